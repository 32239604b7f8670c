// Progress slide.
#include "slide.h"
#include "contrast.h"

#include <QAccessible>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace platform {

Slide::Slide(QWidget *parent) : QWidget(parent) {}

void Slide::setValue(int value)
{
    value_ = qBound(kMinimum, value, kMaximum);
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, value_);
        QAccessible::updateAccessibility(&changed);
    }
}

void Slide::setLabel(const QString &label)
{
    label_ = label;
    update();
}

void Slide::setFillColor(const QColor &color)
{
    fillColor_ = color;
    update();
}

QRect Slide::trackRect() const
{
    return rect().adjusted(2, 2, -2, -2);  // inside the sunken border
}

QRect Slide::filledRect() const
{
    const QRect track = trackRect();
    const int width = track.width() * (value_ - kMinimum) / (kMaximum - kMinimum);
    return QRect(track.topLeft(), QSize(width, track.height()));
}

void Slide::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    qDrawShadePanel(&painter, rect(), palette(), true, 2,
                    &palette().brush(isEnabled() ? QPalette::Base : QPalette::Window));
    const QColor fill = isEnabled() ? fillColor_ : fillColor_.lighter(150);
    if (value_ > kMinimum)
        painter.fillRect(filledRect(), fill);
    // The label may straddle the end of the fill: on the fill it is black or
    // white, whichever stands out on the fill's colour; on the empty track it
    // is the palette's text on the palette's base.
    const QRegion onFill(filledRect());
    painter.save();
    painter.setClipRegion(QRegion(rect()).subtracted(onFill));
    style()->drawItemText(&painter, rect(), Qt::AlignCenter, palette(), isEnabled(), label_,
                          QPalette::Text);
    painter.restore();
    if (value_ > kMinimum) {
        painter.setClipRegion(onFill);
        painter.setPen(labelColorOnFill());
        painter.drawText(rect(), Qt::AlignCenter, label_);
    }
}

QColor Slide::labelColorOnFill() const
{
    return blackOrWhiteOn(isEnabled() ? fillColor_ : fillColor_.lighter(150));
}

} // namespace platform
