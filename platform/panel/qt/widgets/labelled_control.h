// Base of the indicators whose label stands beside them (LED, numeric).
// The widget's rectangle covers the indicator and its label; the label is
// drawn at labelPos, in widget coordinates, and may run to the right edge.
#pragma once

#include <QPoint>
#include <QWidget>

class QPainter;

namespace platform {

class LabelledControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString label READ label WRITE setLabel)
    Q_PROPERTY(QPoint labelPos READ labelPos WRITE setLabelPos)

public:
    explicit LabelledControl(QWidget *parent = nullptr);

    QString label() const { return label_; }
    void setLabel(const QString &label);
    QPoint labelPos() const { return labelPos_; }
    void setLabelPos(const QPoint &pos);

    // What a screen reader reads as this control's text: the label here.
    virtual QString spokenText() const { return label_; }

protected:
    void drawLabel(QPainter &painter) const;
    // Tells a screen reader that the spoken text (and the name made from
    // it) is no longer `before`.
    void spokenTextChanged(const QString &before);

private:
    QString label_;
    QPoint labelPos_;
};

} // namespace platform
