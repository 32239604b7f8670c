// Indicator with a label beside it.
#include "labelled_control.h"

#include <QPainter>
#include <QStyle>

namespace platform {

LabelledControl::LabelledControl(QWidget *parent) : QWidget(parent) {}

void LabelledControl::setLabel(const QString &label)
{
    label_ = label;
    update();
}

void LabelledControl::setLabelPos(const QPoint &pos)
{
    labelPos_ = pos;
    update();
}

void LabelledControl::drawLabel(QPainter &painter) const
{
    // A label box one line high plus a pixel above and below, text centred in it.
    const QRect area(labelPos_, QSize(width() - labelPos_.x(), fontMetrics().height() + 2));
    style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          palette(), isEnabled(), label_, QPalette::WindowText);
}

} // namespace platform
