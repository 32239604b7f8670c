// LED: a round indicator, lit or unlit, with its label to its right.
#pragma once

#include <QColor>
#include <QRect>
#include "labelled_control.h"

namespace platform {

class Led : public LabelledControl {
    Q_OBJECT
    Q_PROPERTY(bool value READ value WRITE setValue)
    Q_PROPERTY(QRect indicatorRect READ indicatorRect WRITE setIndicatorRect)
    Q_PROPERTY(QColor onColor READ onColor WRITE setOnColor)
    Q_PROPERTY(QColor offColor READ offColor WRITE setOffColor)

public:
    explicit Led(QWidget *parent = nullptr);

    bool value() const { return lit_; }
    void setValue(bool lit);
    QRect indicatorRect() const { return indicatorRect_; }  // in widget coordinates
    void setIndicatorRect(const QRect &rect);
    QColor onColor() const { return onColor_; }
    void setOnColor(const QColor &color);
    QColor offColor() const { return offColor_; }
    void setOffColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool lit_ = false;
    QRect indicatorRect_{0, 0, 20, 20};
    QColor onColor_{0x20, 0xE0, 0x20};
    QColor offColor_{0x10, 0x50, 0x10};
};

} // namespace platform
