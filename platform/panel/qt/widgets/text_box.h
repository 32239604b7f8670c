// Text box: the read-only, multi-line log in a fixed-pitch font. Writing to it
// appends; the box keeps the exact text written so it can be read back
// byte for byte (a camera's "\r\n" included), and follows the end.
#pragma once

#include <QPlainTextEdit>

namespace platform {

class TextBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);

    QString text() const { return text_; }
    void append(const QString &text);   // at the end, exactly; "\n" starts a new line
    void setText(const QString &text);  // replaces everything

protected:
    void changeEvent(QEvent *event) override;

private:
    void scrollToEnd();
    QString text_;  // everything written since the last replace
};

} // namespace platform
