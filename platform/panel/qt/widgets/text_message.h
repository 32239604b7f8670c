// Text message: plain panel text with no label of its own. Its value is the
// text, and it sizes itself to that text, growing to the right.
#pragma once

#include <QColor>
#include <QLabel>

namespace platform {

class TextMessage : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString value READ value WRITE setValue)
    Q_PROPERTY(QColor textColor READ textColor WRITE setTextColor)
    Q_PROPERTY(bool textBold READ textBold WRITE setTextBold)

public:
    explicit TextMessage(QWidget *parent = nullptr);

    QString value() const { return text(); }
    void setValue(const QString &value);
    QColor textColor() const;
    void setTextColor(const QColor &color);
    bool textBold() const { return font().bold(); }
    void setTextBold(bool bold);

private:
    void fitToText();
};

} // namespace platform
