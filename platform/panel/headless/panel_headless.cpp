// The window-less panel: panels loaded from the built-in definitions into
// records, the program's calls applied with the window's rules
// (control_state.h), the operator's actions and the timer's ticks
// delivered to the program's callbacks, popups answered by a script.
//
//   1. Loaded panels
//   2. Event delivery and the timer
//   3. The backend's calls
//   4. Reading and driving it (panel_headless.h)
#include "panel_headless.h"

#include "callback_names.h"
#include "control_state.h"
#include "event_loop.h"
#include "panel.h"
#include "panel_definition.h"
#include "popup_hold.h"
#include "runtime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace platform {

namespace {

// ---------------------------------------------------------------------------
// 1. Loaded panels

// Which timer control a started timer ticks for; found again at each tick,
// so a tick never reaches a control that has gone.
struct TimerTarget {
    int panel;
    int control;
};

struct Control {
    ControlState state;
    CtrlCallbackPtr callback = nullptr;
    int timerId = 0;                      // the event loop's timer while it ticks
    std::unique_ptr<TimerTarget> target;  // its data, kept while it ticks
};

struct Panel {
    int parent = 0;
    std::string title;
    PanelCallbackPtr callback = nullptr;
    bool displayed = false;
    int activeControl = 0;
    std::vector<std::string> announcements;  // what a screen reader was told, oldest first (the latest 64)
    std::map<int, Control> controls;
    std::vector<int> order;  // control ids in the definition's order
};

constexpr std::size_t kAnnouncementsKept = 64;
std::map<int, Panel> loadedPanels;
int nextPanelHandle = 1;
bool waitCursor = false;
headless::PopupScript popupScript;
headless::PanelObserver observer;

Panel *findPanel(int panel)
{
    const auto it = loadedPanels.find(panel);
    return it == loadedPanels.end() ? nullptr : &it->second;
}

Control *findControl(int panel, int control)
{
    Panel *record = findPanel(panel);
    if (!record)
        return nullptr;
    const auto it = record->controls.find(control);
    return it == record->controls.end() ? nullptr : &it->second;
}

void notify(int panel, int control, headless::PanelChangeKind kind, const PanelValue &value,
            CtrlAttribute attribute = ATTR_VISIBLE)
{
    if (observer)
        observer(headless::PanelChange{panel, control, kind, attribute, value});
}

// ---------------------------------------------------------------------------
// 2. Event delivery and the timer

// Dimmed itself or inside a dimmed control: the operator cannot reach it,
// nor does its timer tick through.
bool dimmed(const Panel &record, const Control &control)
{
    const ControlState *state = &control.state;
    for (int depth = 0; depth < 64; ++depth) {
        if (state->dimmed)
            return true;
        if (state->parent == 0)
            return false;
        const auto it = record.controls.find(state->parent);
        if (it == record.controls.end())
            return false;
        state = &it->second.state;
    }
    return false;
}

// Whether an operator's event may reach the control now (the window's rule:
// a callback, shown, not dimmed, its panel displayed, no popup in front).
CtrlCallbackPtr operableCallback(int panel, int control)
{
    const Panel *record = findPanel(panel);
    const Control *target = findControl(panel, control);
    if (!record || !target || !target->callback || !record->displayed || ModalPopupOpen())
        return nullptr;
    if (!target->state.visible || target->state.kind == ControlKind::Timer || dimmed(*record, *target))
        return nullptr;
    return target->callback;
}

bool deliver(int panel, int control, int event)
{
    if (!OnUiThread())
        return false;
    const CtrlCallbackPtr callback = operableCallback(panel, control);
    if (!callback)
        return false;
    callback(panel, control, event, nullptr, 0, 0);
    return true;
}

// The event loop's timer for one timer control. Ticks wait for no popup:
// those that fall while one is open are dropped, as the window drops them.
void timerTicked(void *data)
{
    const TimerTarget target = *static_cast<TimerTarget *>(data);
    const Panel *record = findPanel(target.panel);
    const Control *control = findControl(target.panel, target.control);
    if (!record || !control || !control->callback || ModalPopupOpen() || dimmed(*record, *control))
        return;
    // The callback may discard the panel: nothing here is touched after it.
    control->callback(target.panel, target.control, EVENT_TIMER_TICK, nullptr, 0, 0);
}

// The interval as the window's timer keeps it: whole milliseconds, at
// least one, at most 2,000,000 seconds.
double tickSeconds(double interval)
{
    const double ms = std::round(std::min(interval, 2.0e6) * 1000.0);
    return std::max(1.0, ms) / 1000.0;
}

void stopTicking(Control &control)
{
    if (control.timerId != 0)
        eventLoop().stopTimer(control.timerId);
    control.timerId = 0;
    control.target.reset();
}

// Starts or stops the control's ticks to match its state; `restart` starts
// a running count again from now.
void syncTimer(int panel, int id, Control &control, bool restart)
{
    const bool wanted = control.state.kind == ControlKind::Timer && control.state.timerEnabled
                        && control.callback != nullptr;
    if (control.timerId != 0 && (!wanted || restart))
        stopTicking(control);
    if (!wanted || control.timerId != 0)
        return;
    control.target = std::make_unique<TimerTarget>(TimerTarget{panel, id});
    control.timerId = eventLoop().startTimer(tickSeconds(control.state.interval), true, timerTicked,
                                             control.target.get());
    if (control.timerId == 0)
        control.target.reset();
}

// ---------------------------------------------------------------------------
// 3. The backend's calls

// Nothing to start: the event loop needs no application object. (On Qt's
// loop the front end has made its own QCoreApplication.)
bool startApplication()
{
    return true;
}

int loadPanel(int parentPanel, const char *definitionName, int panelResourceId)
{
    if (parentPanel != 0 && !findPanel(parentPanel))
        return kPanelBadHandle;
    const PanelDefinition *definition = nullptr;
    if (const int rc = cachedPanelDefinition(definitionName, panelResourceId, &definition))
        return rc;
    const int handle = nextPanelHandle++;
    Panel &record = loadedPanels[handle];
    record.parent = parentPanel;
    record.title = definition->title;
    record.callback = findPanelCallback(definition->callbackName);
    record.order.reserve(definition->controls.size());
    for (const auto &[id, state] : definition->controls) {
        Control &control = record.controls[id];
        control.state = state;
        control.callback = findCtrlCallback(state.callbackName);
        record.order.push_back(id);
    }
    for (auto &[id, control] : record.controls)
        syncTimer(handle, id, control, false);  // a timer the definition enables
    return handle;
}

int displayPanel(int panel)
{
    Panel *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    record->displayed = true;
    notify(panel, 0, headless::PanelChangeKind::Displayed, PanelValue(1));
    return 0;
}

int discardPanel(int panel)
{
    const auto it = loadedPanels.find(panel);
    if (it == loadedPanels.end())
        return kPanelBadHandle;
    // Its child panels lie inside it and go with it, as the window's do.
    std::vector<int> children;
    for (const auto &[handle, record] : loadedPanels)
        if (record.parent == panel)
            children.push_back(handle);
    for (int child : children)
        discardPanel(child);
    for (auto &[id, control] : it->second.controls)
        stopTicking(control);
    loadedPanels.erase(it);
    notify(panel, 0, headless::PanelChangeKind::Discarded, PanelValue(0));
    return 0;
}

int setPanelTitle(int panel, const std::string &title)
{
    Panel *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    record->title = title;
    notify(panel, 0, headless::PanelChangeKind::Title, PanelValue(title));
    return 0;
}

int getPanelTitle(int panel, std::string *title)
{
    Panel *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    *title = record->title;
    return 0;
}

int setValue(int panel, int control, const PanelValue &value)
{
    Control *target = findControl(panel, control);
    if (!target)
        return kPanelBadHandle;
    if (const int rc = setControlValue(target->state, value))
        return rc;
    if (observer) {
        if (target->state.kind == ControlKind::TextBox) {
            PanelValue appended;
            convertForKind(value, ValueKind::Text, &appended);
            notify(panel, control, headless::PanelChangeKind::LogAppended, appended);
        } else {
            PanelValue now;
            readControlValue(target->state, &now);
            notify(panel, control, headless::PanelChangeKind::Value, now);
        }
    }
    return 0;
}

int getValue(int panel, int control, PanelValue *value)
{
    const Control *target = findControl(panel, control);
    return target ? readControlValue(target->state, value) : int(kPanelBadHandle);
}

int setAttribute(int panel, int control, CtrlAttribute attribute, const PanelValue &value)
{
    Control *target = findControl(panel, control);
    if (!target)
        return kPanelBadHandle;
    const bool wasEnabled = target->state.timerEnabled;
    if (const int rc = setControlAttribute(target->state, attribute, value))
        return rc;
    // A new interval starts the count again; enabling a running timer does not.
    if (attribute == ATTR_INTERVAL)
        syncTimer(panel, control, *target, true);
    else if (attribute == ATTR_ENABLED && wasEnabled != target->state.timerEnabled)
        syncTimer(panel, control, *target, false);
    if (observer) {
        PanelValue now;
        readControlAttribute(target->state, attribute, &now);
        notify(panel, control, headless::PanelChangeKind::Attribute, now, attribute);
    }
    return 0;
}

int getAttribute(int panel, int control, CtrlAttribute attribute, PanelValue *value)
{
    const Control *target = findControl(panel, control);
    return target ? readControlAttribute(target->state, attribute, value) : int(kPanelBadHandle);
}

int resetTextBox(int panel, int control, const std::string &text)
{
    Control *target = findControl(panel, control);
    if (!target)
        return kPanelBadHandle;
    if (target->state.kind != ControlKind::TextBox)
        return kPanelBadAttribute;
    target->state.log.reset(text);
    notify(panel, control, headless::PanelChangeKind::LogReplaced, PanelValue(text));
    return 0;
}

int setActiveCtrl(int panel, int control)
{
    Panel *record = findPanel(panel);
    if (!record || !record->controls.count(control))
        return kPanelBadHandle;
    record->activeControl = control;
    return 0;
}

void setWaitCursor(bool on)
{
    waitCursor = on;
}

void processDrawEvents() {}

int resetTimer(int panel, int control)
{
    if (panel == 0) {
        for (auto &[handle, record] : loadedPanels)
            for (auto &[id, entry] : record.controls)
                syncTimer(handle, id, entry, true);
        return 0;
    }
    Panel *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    if (control != 0) {
        Control *target = findControl(panel, control);
        if (!target)
            return kPanelBadHandle;
        if (target->state.kind != ControlKind::Timer)
            return kPanelBadAttribute;
        syncTimer(panel, control, *target, true);
        return 0;
    }
    for (auto &[id, entry] : record->controls)
        syncTimer(panel, id, entry, true);
    return 0;
}

int announce(int panel, const std::string &text)
{
    Panel *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    // The latest only: a fuzzer runs one panel through countless updates.
    if (record->announcements.size() >= kAnnouncementsKept)
        record->announcements.erase(record->announcements.begin());
    record->announcements.push_back(text);
    notify(panel, 0, headless::PanelChangeKind::Announced, PanelValue(text));
    return 0;
}

bool isButtonOf(const PopupButtons &buttons, int number)
{
    return std::find(buttons.numbers.begin(), buttons.numbers.end(), number) != buttons.numbers.end();
}

int runPopup(const std::string &title, const std::string &message, const PopupButtons &buttons)
{
    const int escape = buttons.escapeNumber > 0 ? buttons.escapeNumber
                       : buttons.numbers.empty() ? 1
                                                 : buttons.numbers.front();
    if (!popupScript)
        return escape;
    // A copy: the script may set another script while it answers.
    const headless::PopupScript script = popupScript;
    const int answer = script(title, message, buttons);
    return isButtonOf(buttons, answer) ? answer : escape;
}

const PanelBackend kHeadlessPanel = {
    startApplication, loadPanel,     displayPanel,  discardPanel,      setPanelTitle,
    getPanelTitle,    setValue,      getValue,      setAttribute,      getAttribute,
    resetTextBox,     setActiveCtrl, setWaitCursor, processDrawEvents, resetTimer,
    runPopup,         announce,
};

} // namespace

// ---------------------------------------------------------------------------
// 4. Reading and driving it

namespace headless {

int controlValue(int panel, int control, PanelValue *value)
{
    return !OnUiThread() ? int(kPanelWrongThread) : getValue(panel, control, value);
}

int controlAttribute(int panel, int control, CtrlAttribute attribute, PanelValue *value)
{
    return !OnUiThread() ? int(kPanelWrongThread) : getAttribute(panel, control, attribute, value);
}

int panelTitle(int panel, std::string *title)
{
    return !OnUiThread() ? int(kPanelWrongThread) : getPanelTitle(panel, title);
}

int logText(int panel, int control, std::string *text)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    const Control *target = findControl(panel, control);
    if (!target)
        return kPanelBadHandle;
    if (target->state.kind != ControlKind::TextBox)
        return kPanelBadAttribute;
    *text = target->state.log.text();
    return 0;
}

int shownText(int panel, int control, std::string *text)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    const Control *target = findControl(panel, control);
    if (!target)
        return kPanelBadHandle;
    const ControlState &state = target->state;
    switch (state.kind) {
    case ControlKind::NumericDisplay:
    {
        // As the window prints it: fixed, `decimals` places (the C locale's point).
        char shown[352];
        std::snprintf(shown, sizeof shown, "%.*f", std::clamp(state.decimals, 0, 30), state.reading);
        *text = shown;
        return 0;
    }
    case ControlKind::PictureRing:
        *text = currentPicture(state);
        return 0;
    case ControlKind::TextMessage:
        *text = state.text;
        return 0;
    case ControlKind::TextBox:
        *text = state.log.text();
        return 0;
    default:
        break;
    }
    PanelValue value;
    PanelValue asText;
    if (readControlValue(state, &value) != 0 || !convertForKind(value, ValueKind::Text, &asText))
        return kPanelBadAttribute;
    *text = std::get<std::string>(asText);
    return 0;
}

int controlId(int panel, const std::string &name)
{
    const Panel *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    for (int id : record->order)
        if (record->controls.at(id).state.name == name)
            return id;
    return kPanelBadHandle;
}

std::vector<int> controlIds(int panel)
{
    const Panel *record = findPanel(panel);
    return record ? record->order : std::vector<int>();
}

std::vector<int> panels()
{
    std::vector<int> handles;
    for (const auto &[handle, record] : loadedPanels)
        handles.push_back(handle);
    return handles;
}

bool panelDisplayed(int panel)
{
    const Panel *record = findPanel(panel);
    return record && record->displayed;
}

std::vector<std::string> announcements(int panel)
{
    const Panel *record = findPanel(panel);
    return record ? record->announcements : std::vector<std::string>();
}

int activeControl(int panel)
{
    const Panel *record = findPanel(panel);
    return record ? record->activeControl : 0;
}

bool waitCursorShown()
{
    return waitCursor;
}

bool clickControl(int panel, int control)
{
    if (!deliver(panel, control, EVENT_LEFT_CLICK))
        return false;
    const Control *target = findControl(panel, control);
    if (target && target->state.kind == ControlKind::CommandButton)
        deliver(panel, control, EVENT_COMMIT);
    return true;
}

bool commitControl(int panel, int control)
{
    const Control *target = findControl(panel, control);
    if (!target || target->state.kind != ControlKind::CommandButton)
        return false;
    return deliver(panel, control, EVENT_COMMIT);
}

bool closePanel(int panel)
{
    const Panel *record = OnUiThread() ? findPanel(panel) : nullptr;
    if (!record || !record->callback || !record->displayed || ModalPopupOpen())
        return false;
    record->callback(panel, EVENT_CLOSE, nullptr, 0, 0);
    return true;
}

void setPopupScript(PopupScript script)
{
    popupScript = std::move(script);
}

void setPanelObserver(PanelObserver newObserver)
{
    observer = std::move(newObserver);
}

} // namespace headless

} // namespace platform

void UseHeadlessPanel()
{
    platform::selectPanelBackend(&platform::kHeadlessPanel);
}
