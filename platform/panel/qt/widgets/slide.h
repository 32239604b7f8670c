// Horizontal slide used as a progress bar: 0..100, the bar filled from the
// left up to the value in the fill colour, its label centred on the bar.
#pragma once

#include <QColor>
#include <QWidget>

namespace platform {

class Slide : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue)
    Q_PROPERTY(QString label READ label WRITE setLabel)
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)

public:
    static constexpr int kMinimum = 0;
    static constexpr int kMaximum = 100;

    explicit Slide(QWidget *parent = nullptr);

    int value() const { return value_; }
    void setValue(int value);  // kept within 0..100
    QString label() const { return label_; }
    void setLabel(const QString &label);
    QColor fillColor() const { return fillColor_; }
    void setFillColor(const QColor &color);

    QRect filledRect() const;  // the part of the bar drawn in the fill colour
    QColor labelColorOnFill() const;  // the label's colour where it lies on the fill

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect trackRect() const;

    int value_ = 0;
    QString label_;
    QColor fillColor_{0x30, 0x60, 0xC0};
};

} // namespace platform
