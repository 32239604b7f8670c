// Read-only log text box.
#include "text_box.h"

#include <QScrollBar>
#include <QTextCursor>

namespace platform {

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // A caret the arrows move, so a screen reader reads the log line by line.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);  // a long log would otherwise be kept twice
    setMaximumBlockCount(kLinesShown);  // the oldest lines go first
    QFont f = font();
    f.setStyleHint(QFont::Monospace);
    setFont(f);
}

void TextBox::append(const QString &text)
{
    if (text.isEmpty())
        return;
    text_ += text;
    // Dropped a quarter at a time, so that each character is moved a
    // bounded number of times however long the log runs.
    if (text_.size() > kLogKept)
        text_.remove(0, text_.size() - kLogKept * 3 / 4);
    // A cursor of our own: the operator may have clicked somewhere in the log.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(forDisplay(text));
    scrollToEnd();
}

void TextBox::setText(const QString &text)
{
    text_ = text.size() > kLogKept ? text.right(kLogKept) : text;
    shownLineLength_ = 0;
    setPlainText(forDisplay(text_));
    scrollToEnd();
}

// A line without end (a device streaming without line ends) is broken every
// kLineShown characters on screen: laying out one endless line takes the
// window longer at each append.
QString TextBox::forDisplay(const QString &text)
{
    QString shown;
    shown.reserve(text.size() + text.size() / kLineShown + 1);
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            shownLineLength_ = 0;
        } else if (shownLineLength_ >= kLineShown) {
            shown += QLatin1Char('\n');
            shownLineLength_ = 0;
        }
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            ++shownLineLength_;
        shown += c;
    }
    return shown;
}

// Whatever family the panel gives the log, it falls back on a fixed-pitch one.
void TextBox::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange && font().styleHint() != QFont::Monospace) {
        QFont f = font();
        f.setStyleHint(QFont::Monospace);
        setFont(f);  // comes back here once, with the hint set
    }
    QPlainTextEdit::changeEvent(event);
}

void TextBox::scrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

} // namespace platform
