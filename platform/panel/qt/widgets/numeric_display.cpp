// Numeric display with a label.
#include "numeric_display.h"

#include <QAccessible>
#include <QPainter>
#include <QStyle>
#include <cmath>

namespace platform {

NumericDisplay::NumericDisplay(QWidget *parent) : LabelledControl(parent) {}

void NumericDisplay::setValue(double value)
{
    if (std::isnan(value))
        value = minimum_;
    const QString before = spokenText();
    const double old = value_;
    value_ = qBound(minimum_, value, maximum_);
    update();
    if (value_ != old && QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, value_);
        QAccessible::updateAccessibility(&changed);
    }
    spokenTextChanged(before);
}

void NumericDisplay::setDecimals(int decimals)
{
    decimals_ = qBound(0, decimals, 15);
    update();
}

void NumericDisplay::setMinimum(double minimum)
{
    minimum_ = minimum;
    setValue(value_);
}

void NumericDisplay::setMaximum(double maximum)
{
    maximum_ = maximum;
    setValue(value_);
}

void NumericDisplay::setValueRect(const QRect &rect)
{
    valueRect_ = rect;
    update();
}

QString NumericDisplay::displayedText() const
{
    return QString::number(value_, 'f', decimals_);
}

QString NumericDisplay::spokenText() const
{
    return label().isEmpty() ? displayedText() : displayedText() + u' ' + label();
}

void NumericDisplay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(isEnabled() ? QPalette::Base : QPalette::Window));
    painter.drawRect(valueRect_.adjusted(0, 0, -1, -1));
    // Right-aligned, as digits are read; a very long number runs out to the left.
    const QRect textArea = valueRect_.adjusted(-valueRect_.left(), 0, -2, 0);
    style()->drawItemText(&painter, textArea, Qt::AlignRight | Qt::AlignVCenter, palette(),
                          isEnabled(), displayedText(), QPalette::Text);
    drawLabel(painter);
}

} // namespace platform
