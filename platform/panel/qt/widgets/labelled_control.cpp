// Indicator with a label beside it.
#include "labelled_control.h"

#include <QAccessible>
#include <QPainter>
#include <QStyle>

namespace platform {

LabelledControl::LabelledControl(QWidget *parent) : QWidget(parent) {}

void LabelledControl::setLabel(const QString &label)
{
    const QString before = spokenText();
    label_ = label;
    update();
    spokenTextChanged(before);
}

void LabelledControl::spokenTextChanged(const QString &before)
{
    const QString now = spokenText();
    if (now == before || !QAccessible::isActive())
        return;
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(this);
    if (iface && iface->textInterface()) {
        QAccessibleTextUpdateEvent changed(this, 0, before, now);
        QAccessible::updateAccessibility(&changed);
    }
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
