// Numeric display: a double shown with a fixed count of decimals in a small
// box, with its unit label to the right of the box.
#pragma once

#include <QRect>
#include "labelled_control.h"

namespace platform {

class NumericDisplay : public LabelledControl {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue)
    Q_PROPERTY(int decimals READ decimals WRITE setDecimals)
    Q_PROPERTY(double minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(double maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(QRect valueRect READ valueRect WRITE setValueRect)

public:
    explicit NumericDisplay(QWidget *parent = nullptr);

    double value() const { return value_; }
    void setValue(double value);  // kept within minimum..maximum
    int decimals() const { return decimals_; }
    void setDecimals(int decimals);
    double minimum() const { return minimum_; }
    void setMinimum(double minimum);
    double maximum() const { return maximum_; }
    void setMaximum(double maximum);
    QRect valueRect() const { return valueRect_; }  // the box, in widget coordinates
    void setValueRect(const QRect &rect);

    QString displayedText() const;  // the value as the box shows it
    QString spokenText() const override;  // the value and its unit ("0.250 / 1.500 Mb")

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double value_ = 0.0;
    int decimals_ = 0;
    double minimum_ = 0.0;
    double maximum_ = 2147483647.0;
    QRect valueRect_{0, 0, 40, 15};
};

} // namespace platform
