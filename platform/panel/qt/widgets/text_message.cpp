// Text message that fits its width to its text.
#include "text_message.h"

namespace platform {

TextMessage::TextMessage(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);  // camera and package texts are never markup
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TextMessage::setValue(const QString &value)
{
    setText(value);
    fitToText();
}

QColor TextMessage::textColor() const
{
    return palette().color(QPalette::WindowText);
}

void TextMessage::setTextColor(const QColor &color)
{
    QPalette p = palette();
    p.setColor(QPalette::Active, QPalette::WindowText, color);
    p.setColor(QPalette::Inactive, QPalette::WindowText, color);
    setPalette(p);
}

void TextMessage::setTextBold(bool bold)
{
    QFont f = font();
    f.setBold(bold);
    setFont(f);
    fitToText();
}

// Keeps the top-left corner where the panel put it; the height stays as placed
// unless the text needs more.
void TextMessage::fitToText()
{
    const QSize hint = sizeHint();
    resize(hint.width(), qMax(height(), hint.height()));
}

} // namespace platform
