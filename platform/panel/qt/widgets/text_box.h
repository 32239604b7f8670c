// Text box: the read-only, multi-line log in a fixed-pitch font. Writing to it
// appends; the box keeps the exact text written so it can be read back
// byte for byte (a camera's "\r\n" included), and follows the end.
//
// The log is bounded, so that a device talking for hours costs neither
// memory nor time: the text read back keeps its most recent kLogKept
// characters (the oldest dropped, a whole chunk's worth at a time); the
// box shows at most kLinesShown lines, a line longer than kLineShown
// characters broken for display only. An append costs in proportion to
// what it appends. No update's lines come near these limits.
#pragma once

#include <QPlainTextEdit>

namespace platform {

class TextBox : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int kLogKept = 256 * 1024;
    static constexpr int kLinesShown = 2000;
    static constexpr int kLineShown = 1000;

    explicit TextBox(QWidget *parent = nullptr);

    QString text() const { return text_; }
    void append(const QString &text);   // at the end, exactly; "\n" starts a new line
    void setText(const QString &text);  // replaces everything

protected:
    void changeEvent(QEvent *event) override;

private:
    void scrollToEnd();
    QString forDisplay(const QString &text);
    QString text_;        // what was written since the last replace, its most recent part
    int shownLineLength_ = 0;  // characters of the last line shown, since its line end
};

} // namespace platform
