// Round LED indicator.
#include "led.h"

#include "contrast.h"

#include <QAccessible>
#include <QPainter>
#include <QRadialGradient>

namespace platform {

Led::Led(QWidget *parent) : LabelledControl(parent) {}

void Led::setValue(bool lit)
{
    const bool changed = lit != lit_;
    lit_ = lit;
    update();
    if (changed && QAccessible::isActive()) {
        QAccessible::State checked;
        checked.checked = true;
        QAccessibleStateChangeEvent event(this, checked);
        QAccessible::updateAccessibility(&event);
    }
}

void Led::setIndicatorRect(const QRect &rect)
{
    indicatorRect_ = rect;
    update();
}

void Led::setOnColor(const QColor &color)
{
    onColor_ = color;
    update();
}

void Led::setOffColor(const QColor &color)
{
    offColor_ = color;
    update();
}

void Led::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // A bezel, then the lamp with a highlight towards the top left.
    const QRectF bezel = QRectF(indicatorRect_).adjusted(1, 1, -1, -1);
    painter.setPen(QPen(palette().color(QPalette::Dark), 1));
    painter.setBrush(palette().color(QPalette::Mid));
    painter.drawEllipse(bezel);

    // An unlit lamp still stands out at 3:1 from the panel behind it (a
    // dark desktop would swallow the dark green).
    QColor lamp = lit_ ? onColor_
                       : distinctOn(offColor_, palette().color(QPalette::Window), kFocusMarkContrast);
    if (!isEnabled())
        lamp = lamp.lighter(130);
    const QRectF glass = bezel.adjusted(2, 2, -2, -2);
    QRadialGradient shine(glass.center() - QPointF(glass.width() / 5, glass.height() / 5),
                          glass.width() * 0.7);
    shine.setColorAt(0, lamp.lighter(lit_ ? 160 : 130));
    shine.setColorAt(1, lamp);
    painter.setPen(Qt::NoPen);
    painter.setBrush(shine);
    painter.drawEllipse(glass);

    painter.setRenderHint(QPainter::Antialiasing, false);
    drawLabel(painter);
}

} // namespace platform
