// Read-only log text box.
#include "text_box.h"

#include <QScrollBar>
#include <QTextCursor>

namespace platform {

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);  // a long log would otherwise be kept twice
    QFont f = font();
    f.setStyleHint(QFont::Monospace);
    setFont(f);
}

void TextBox::append(const QString &text)
{
    if (text.isEmpty())
        return;
    text_ += text;
    // A cursor of our own: the operator may have clicked somewhere in the log.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    scrollToEnd();
}

void TextBox::setText(const QString &text)
{
    text_ = text;
    setPlainText(text);
    scrollToEnd();
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
