// Modal popups in a dialog: a message with buttons laid out in the order
// given, the first one focused and chosen by Enter, Escape choosing the one
// popups.cpp named for it. popups.cpp marks the popup open for the line.
#include "panel_backend.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <string>
#include <vector>

namespace platform {

namespace {

class PopupDialog : public QDialog {
public:
    PopupDialog(const QString &title, const QString &message, const std::vector<QString> &buttons,
                const std::vector<int> &numbers, int escapeNumber)
        : QDialog(QApplication::activeWindow()), escapeNumber_(escapeNumber)
    {
        setWindowTitle(title);
        setWindowModality(Qt::ApplicationModal);
        auto *text = new QLabel(message, this);
        text->setObjectName(QStringLiteral("popupMessage"));
        text->setTextFormat(Qt::PlainText);  // messages may quote what a camera sent
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // As wide as its longest line where the screen has room for it,
        // else as wide as the screen allows, the lines wrapped at words.
        text->setWordWrap(true);
        int widest = 0;
        for (const QString &line : message.split(u'\n'))
            widest = qMax(widest, text->fontMetrics().horizontalAdvance(line) + 2);
        const QScreen *screen = QApplication::activeWindow() ? QApplication::activeWindow()->screen()
                                                            : QGuiApplication::primaryScreen();
        const int room = screen ? screen->availableGeometry().width() - 64 : widest;
        text->setFixedWidth(qMax(1, qMin(widest, room)));
        auto *row = new QHBoxLayout;
        row->addStretch();
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            QString caption = buttons[i];
            auto *button = new QPushButton(caption.replace(u'&', QStringLiteral("&&")), this);
            button->setAutoDefault(true);
            const int number = numbers[i];
            connect(button, &QPushButton::clicked, this, [this, number] { done(number); });
            row->addWidget(button);
            if (i == 0) {
                button->setDefault(true);
                button->setFocus(Qt::OtherFocusReason);
            }
        }
        row->addStretch();
        auto *column = new QVBoxLayout(this);
        column->addWidget(text);
        column->addSpacing(8);
        column->addLayout(row);
        column->setSizeConstraint(QLayout::SetFixedSize);
    }

    // Escape and the close box choose the escape button; with none, they do nothing.
    void reject() override
    {
        if (escapeNumber_ > 0)
            done(escapeNumber_);
    }

private:
    int escapeNumber_;
};

// Keeps the popup readable under a busy cursor.
class ArrowCursorScope {
public:
    ArrowCursorScope() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~ArrowCursorScope() { QApplication::restoreOverrideCursor(); }
    ArrowCursorScope(const ArrowCursorScope &) = delete;
    ArrowCursorScope &operator=(const ArrowCursorScope &) = delete;
};

} // namespace

int runQtPopup(const std::string &title, const std::string &message, const PopupButtons &buttons)
{
    std::vector<QString> captions;
    for (const std::string &caption : buttons.captions)
        captions.push_back(QString::fromStdString(caption));
    ArrowCursorScope cursor;
    PopupDialog dialog(QString::fromStdString(title), QString::fromStdString(message), captions,
                       buttons.numbers, buttons.escapeNumber);
    return dialog.exec();
}

} // namespace platform
