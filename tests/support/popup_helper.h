// Answers a modal popup with a real key press, for tests that drive code
// which opens popups (the popup runs its own event loop, so the answer has to
// come from a timer). Arm it before the code that opens the popup:
//
//     auto seen = answerNextPopup(Qt::Key_Return);
//     QCOMPARE(GenericMessagePopup("t", "m", "Ok", "Cancel", nullptr), 1);
//     QVERIFY(seen->answered);
//     QCOMPARE(seen->title, QString("t"));
//
// The key goes to the popup's focused widget, as the operator's would, and
// travels up to the popup when the widget does not take it (Escape).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

struct PopupSeen {
    bool answered = false;  // a popup appeared and was given the key
    QString title;          // its window title
    QString text;           // its message (the texts of its labels, one per line)
    QStringList buttons;    // its button captions, left to right, '&' marks removed
};

// Polls every 10 ms, for at most `timeoutMs`, for an open modal popup. Once
// one is open and has stayed open `holdMs` (to let a test see what happens
// meanwhile), records what it shows and presses `key` on it. The returned
// record is filled in when that happens. `onOpen` runs once when the popup
// is first seen open, `beforeAnswer` just before the key is pressed (both
// inside the popup's event loop).
inline std::shared_ptr<PopupSeen> answerNextPopup(Qt::Key key, int holdMs = 0,
                                                  int timeoutMs = 10000,
                                                  std::function<void()> onOpen = {},
                                                  std::function<void()> beforeAnswer = {})
{
    auto seen = std::make_shared<PopupSeen>();
    auto *poll = new QTimer;
    auto sinceArmed = std::make_shared<QElapsedTimer>();
    auto sinceOpen = std::make_shared<QElapsedTimer>();
    sinceArmed->start();
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        QWidget *popup = QApplication::activeModalWidget();
        if (!popup || !popup->isVisible()) {
            if (sinceArmed->elapsed() > timeoutMs)
                poll->deleteLater();  // nothing came; the test's own checks fail
            return;
        }
        if (!sinceOpen->isValid()) {
            sinceOpen->start();
            if (onOpen)
                onOpen();
        }
        if (sinceOpen->elapsed() < holdMs)
            return;
        poll->stop();
        poll->deleteLater();

        seen->title = popup->windowTitle();
        QStringList lines;
        for (QLabel *label : popup->findChildren<QLabel *>())
            lines << label->text();
        seen->text = lines.join(QLatin1Char('\n'));
        QList<QAbstractButton *> buttons = popup->findChildren<QAbstractButton *>();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton *a, QAbstractButton *b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (QAbstractButton *button : buttons)
            seen->buttons << QString(button->text()).remove(QLatin1Char('&'));
        seen->answered = true;
        if (beforeAnswer)
            beforeAnswer();

        QWidget *target = popup->focusWidget() ? popup->focusWidget() : popup;
        QTest::keyClick(target, key);
    });
    poll->start(10);
    return seen;
}
