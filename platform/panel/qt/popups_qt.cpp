// Modal popups: a message with buttons laid out in the order given, the
// first one focused and chosen by Enter, Escape choosing the second (or the
// only one). While a popup is open the panels receive no input, their
// timer controls do not tick and the serial ports' receive callbacks wait
// (popup_hold.h).
#include "popups.h"
#include "panel.h"
#include "text_codec.h"
#include "popup_hold.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

using namespace platform;

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

// Keeps the popup readable under a busy cursor and marks it open for the panels.
class ModalScope {
public:
    ModalScope()
    {
        enterModalPopup();
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ModalScope()
    {
        QApplication::restoreOverrideCursor();
        leaveModalPopup();
    }
    ModalScope(const ModalScope &) = delete;
    ModalScope &operator=(const ModalScope &) = delete;
};

int runPopup(const char *title, const char *message, const std::vector<const char *> &buttons)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    std::vector<QString> captions;
    std::vector<int> numbers;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] && *buttons[i]) {
            captions.push_back(textFromBytes(buttons[i]));
            numbers.push_back(int(i) + 1);
        }
    }
    if (captions.empty()) {  // a popup with no way out would hang the operator
        captions.push_back(QStringLiteral("OK"));
        numbers.push_back(1);
    }
    int escapeNumber = 0;
    if (captions.size() == 1)
        escapeNumber = numbers[0];
    else if (buttons.size() > 1 && buttons[1] && *buttons[1])
        escapeNumber = 2;

    ModalScope scope;
    PopupDialog dialog(textFromBytes(title ? title : ""), textFromBytes(message ? message : ""),
                       captions, numbers, escapeNumber);
    return dialog.exec();
}

} // namespace

int MessagePopup(const char *title, const char *message)
{
    const int rc = runPopup(title, message, {"OK"});
    return rc < 0 ? rc : 1;
}

int GenericMessagePopup(const char *title, const char *message, const char *button1,
                        const char *button2, const char *button3)
{
    return runPopup(title, message, {button1, button2, button3});
}
