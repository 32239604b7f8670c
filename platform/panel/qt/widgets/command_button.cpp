// Command button with the "__" access-letter marker.
#include "command_button.h"

namespace platform {

CommandButton::CommandButton(QWidget *parent) : QPushButton(parent)
{
    // Enter on the focused button presses it, as Space does, also outside dialogs.
    setAutoDefault(true);
}

void CommandButton::setLabel(const QString &label)
{
    label_ = label;
    setText(mnemonicText(label));
}

QString CommandButton::mnemonicText(const QString &label)
{
    QString text;
    text.reserve(label.size() + 1);
    for (qsizetype i = 0; i < label.size(); ++i) {
        const QChar ch = label.at(i);
        if (ch == u'_' && i + 2 < label.size() && label.at(i + 1) == u'_') {
            text += u'&';
            ++i;  // the second underscore; the letter follows
        } else if (ch == u'&') {
            text += QStringLiteral("&&");
        } else {
            text += ch;
        }
    }
    return text;
}

} // namespace platform
