// The seam between the panel calls the program makes (panel.h, popups.h)
// and the toolkit that shows them: Qt Widgets (qt/, the window) or no
// window at all (headless/, for the command-line updater, tests and
// fuzzers). panel.cpp and popups.cpp keep what every backend shares: the
// hand-over of calls made off the UI thread, the callback names, the value
// conversions (callback_names.h keeps the callback names); a backend is called on the UI thread
// only. Internal to platform/.
#pragma once

#include "events.h"

#include <string>
#include <variant>
#include <vector>

namespace platform {

// A control's value or attribute as the program gives or asks for it. A
// flag (an LED's state, a control's visibility) reads as a number, never as text.
using PanelValue = std::variant<bool, int, double, std::string>;

// The buttons of a popup as the operator will see them: captions in order,
// the number each answers (1-based, as the program gave them), and the
// number Escape or the close box answers (0: they do nothing).
struct PopupButtons {
    std::vector<std::string> captions;
    std::vector<int> numbers;
    int escapeNumber = 0;
};

struct PanelBackend {
    // Creates the toolkit's application object when there is none yet.
    // Returns false when the toolkit cannot start (or another kind of
    // application object already exists).
    bool (*startApplication)();
    int (*loadPanel)(int parentPanel, const char *definitionName, int panelResourceId);
    int (*displayPanel)(int panel);
    int (*discardPanel)(int panel);
    int (*setPanelTitle)(int panel, const std::string &title);
    int (*getPanelTitle)(int panel, std::string *title);
    // The text box appends a text value; every other control takes the
    // value converted to its kind (convertForKind).
    int (*setValue)(int panel, int control, const PanelValue &value);
    int (*getValue)(int panel, int control, PanelValue *value);
    int (*setAttribute)(int panel, int control, CtrlAttribute attribute, const PanelValue &value);
    int (*getAttribute)(int panel, int control, CtrlAttribute attribute, PanelValue *value);
    int (*resetTextBox)(int panel, int control, const std::string &text);
    int (*setActiveCtrl)(int panel, int control);
    void (*setWaitCursor)(bool on);
    void (*processDrawEvents)();
    int (*resetTimer)(int panel, int control);  // panel 0 and control 0: every timer
    // Shows a modal popup and returns the number of the button chosen. The
    // caller has marked the popup open (popup_hold.h) around this call.
    int (*runPopup)(const std::string &title, const std::string &message,
                    const PopupButtons &buttons);
    // Tells the operator `text` through a screen reader without moving the
    // keyboard focus (the window: a notification it speaks; no window: the
    // text recorded). Nothing is drawn.
    int (*announce)(int panel, const std::string &text);
};

// Switches every later panel call to `backend` (no backend: every call
// fails with kPanelNotFound or does nothing). Before the first LoadPanel.
void selectPanelBackend(const PanelBackend *backend);
// The active backend, or nullptr.
const PanelBackend *activePanelBackend();

// The kinds of value a control holds.
enum class ValueKind { Int, Double, Text };
// Converts `value` for a control of kind `kind`: numbers and flags convert
// among themselves (a double rounded to the nearest int, refused when it
// does not fit; a flag is 0 or 1), numbers into text (the shortest text that
// reads back the same); text never becomes a number, nor a flag text.
// Returns false when it cannot.
bool convertForKind(const PanelValue &value, ValueKind kind, PanelValue *out);

// The program's texts are UTF-8. Bytes that are not valid UTF-8 (a camera
// talking in an 8-bit code page) are taken as Latin-1 and so always become
// valid UTF-8 here: every backend shows and returns the same text.
std::string validUtf8(std::string bytes);

} // namespace platform
