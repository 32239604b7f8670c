// Text message: plain panel text with no label of its own. Its value is the
// text, and it sizes itself to that text, growing to the right.
//
// Its colour is asked for as 0xRRGGBB and read back as asked. Black, the
// panel's plain text, is drawn in the palette's window-text colour, so it
// reads on a dark desktop; any other colour is drawn as near to the one
// asked for as still reads on the window's background.
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
    QColor textColor() const { return textColor_; }  // as asked for
    void setTextColor(const QColor &color);
    QColor shownTextColor() const;  // as drawn now on this palette
    bool textBold() const { return font().bold(); }
    void setTextBold(bool bold);

protected:
    void changeEvent(QEvent *event) override;

private:
    void fitToText();
    void applyTextColor();

    QColor textColor_{Qt::black};
    bool applying_ = false;
};

} // namespace platform
