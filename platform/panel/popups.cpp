// Popups: the buttons the operator gets, whatever shows them, and the mark
// that holds the line while one is open.
#include "popups.h"
#include "panel.h"
#include "panel_backend.h"

#include "popup_hold.h"
#include "runtime.h"

#include <vector>

namespace {

// Marks a popup open for the line and the timers, even when it ends by an
// exception of the toolkit.
class ModalScope {
public:
    ModalScope() { platform::enterModalPopup(); }
    ~ModalScope() { platform::leaveModalPopup(); }
    ModalScope(const ModalScope &) = delete;
    ModalScope &operator=(const ModalScope &) = delete;
};

int runPopup(const char *title, const char *message, const std::vector<const char *> &buttons)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    const platform::PanelBackend *backend = platform::activePanelBackend();
    if (!backend)
        return kPanelNotFound;
    platform::PopupButtons choice;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] && *buttons[i]) {
            choice.captions.push_back(platform::validUtf8(buttons[i]));
            choice.numbers.push_back(int(i) + 1);
        }
    }
    if (choice.captions.empty()) {  // a popup with no way out would hang the operator
        choice.captions.push_back("OK");
        choice.numbers.push_back(1);
    }
    if (choice.captions.size() == 1)
        choice.escapeNumber = choice.numbers[0];
    else if (buttons.size() > 1 && buttons[1] && *buttons[1])
        choice.escapeNumber = 2;

    ModalScope scope;
    return backend->runPopup(platform::validUtf8(title ? title : ""),
                             platform::validUtf8(message ? message : ""), choice);
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
