// What the window tells an operator who listens to a screen reader, without
// moving the keyboard focus: an invisible notification shown anew with each
// message. Screen readers on AT-SPI (Orca) speak a notification as it shows,
// wherever the focus is. Nothing is drawn and it takes no input.
#pragma once

#include <QWidget>

namespace platform {

class Announcer : public QWidget {
    Q_OBJECT

public:
    explicit Announcer(QWidget *window);

    // Shows `text` as a new notification (hidden and shown again, so the
    // same text twice is spoken twice).
    void announce(const QString &text);
    QString message() const { return message_; }

    // The window's announcer, made on first use.
    static Announcer *of(QWidget *window);

private:
    QString message_;
};

} // namespace platform
