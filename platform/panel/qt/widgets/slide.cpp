// Progress slide.
#include "slide.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace platform {

Slide::Slide(QWidget *parent) : QWidget(parent) {}

void Slide::setValue(int value)
{
    value_ = qBound(kMinimum, value, kMaximum);
    update();
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
    if (value_ > kMinimum)
        painter.fillRect(filledRect(), isEnabled() ? fillColor_ : fillColor_.lighter(150));
    style()->drawItemText(&painter, rect(), Qt::AlignCenter, palette(), isEnabled(), label_,
                          QPalette::WindowText);
}

} // namespace platform
