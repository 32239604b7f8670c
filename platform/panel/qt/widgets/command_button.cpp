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
    const QString text = mnemonicText(label);
    setText(text);  // sets the caption's own access key, or none
    const QKeySequence own = QKeySequence::mnemonic(text);
    if (accessKey_.isEmpty() && !own.isEmpty())
        accessKey_ = own;
    if (own.isEmpty() && !accessKey_.isEmpty())
        setShortcut(accessKey_);
    setToolTip(accessKey_.toString(QKeySequence::NativeText));
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
