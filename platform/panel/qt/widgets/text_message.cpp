// Text message that fits its width to its text.
#include "text_message.h"
#include "contrast.h"

#include <QAccessible>
#include <QEvent>

namespace platform {

TextMessage::TextMessage(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);  // camera and package texts are never markup
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TextMessage::setValue(const QString &value)
{
    const QString before = text();
    setText(value);
    fitToText();
    if (before != value && QAccessible::isActive()) {
        // QLabel tells of a new name only when none was given; the text is new either way.
        QAccessibleTextUpdateEvent changed(this, 0, before, value);
        QAccessible::updateAccessibility(&changed);
    }
}

void TextMessage::setTextColor(const QColor &color)
{
    textColor_ = color.toRgb();
    applyTextColor();
}

QColor TextMessage::shownTextColor() const
{
    return palette().color(QPalette::WindowText);
}

void TextMessage::applyTextColor()
{
    applying_ = true;
    if (textColor_ == QColor(Qt::black)) {
        setPalette(QPalette());  // every role from the window's palette again
    } else {
        const QWidget *below = parentWidget();
        const QColor background = (below ? below->palette() : palette()).color(QPalette::Window);
        const QColor shown = legibleOn(textColor_, background);
        QPalette p;  // only the text colour set; the rest follows the window
        p.setColor(QPalette::Active, QPalette::WindowText, shown);
        p.setColor(QPalette::Inactive, QPalette::WindowText, shown);
        setPalette(p);
    }
    applying_ = false;
}

// The desktop's palette changed (a dark theme chosen while Quorvel runs):
// the colour drawn is chosen again for the new background.
void TextMessage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && !applying_ && textColor_ != QColor(Qt::black)) {
        const QWidget *below = parentWidget();
        const QColor background = (below ? below->palette() : palette()).color(QPalette::Window);
        if (legibleOn(textColor_, background) != shownTextColor())
            applyTextColor();
    }
    QLabel::changeEvent(event);
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
