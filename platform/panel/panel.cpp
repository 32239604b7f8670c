// The panel calls, forwarded to the chosen backend on the UI thread.
//
// Calls made off the UI thread are queued (ui_queue.h) and run later on the
// UI thread in call order; they capture their arguments by value and return
// 0 at once. On the UI thread a call first runs whatever is still queued, so
// the panel sees every call in the order it was made.
#include "panel.h"
#include "panel_backend.h"

#include "runtime.h"
#include "ui_queue.h"

#include <functional>
#include <utility>

using platform::PanelBackend;
using platform::PanelValue;
using platform::ValueKind;

namespace {

// Runs `call` with the backend now on the UI thread (after the calls queued
// before it), or queues it from any other thread and returns 0. A template:
// a call made on the UI thread, the usual case, is not copied into a
// std::function.
template <typename Call>
int onUiThread(Call call)
{
    if (OnUiThread()) {
        DeliverQueuedUiCalls();
        const PanelBackend *backend = platform::activePanelBackend();
        return backend ? call(*backend) : int(kPanelNotFound);
    }
    platform::postToUiThread([call = std::move(call)] {
        if (const PanelBackend *backend = platform::activePanelBackend())
            call(*backend);
    });
    return 0;
}

// A getter: on the UI thread only, with the value converted to the kind asked for.
template <typename Out, typename Read>
int readAs(ValueKind kind, Out *out, Read read)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    const PanelBackend *backend = platform::activePanelBackend();
    if (!backend)
        return kPanelNotFound;
    PanelValue value;
    if (const int rc = read(*backend, &value))
        return rc;
    PanelValue converted;
    if (!out || !platform::convertForKind(value, kind, &converted))
        return kPanelBadAttribute;
    *out = std::get<Out>(converted);
    return 0;
}

std::string text(const char *value)
{
    return platform::validUtf8(value ? value : "");
}

} // namespace

int InitRunTime(int /*argc*/, char ** /*argv*/)
{
    const PanelBackend *backend = platform::activePanelBackend();
    if (!backend || !backend->startApplication())
        return 0;
    platform::fixProcessLocale();
    return 1;
}

int LoadPanel(int parentPanel, const char *definitionName, int panelResourceId)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    const PanelBackend *backend = platform::activePanelBackend();
    if (!definitionName || !backend)
        return kPanelNotFound;
    DeliverQueuedUiCalls();
    return backend->loadPanel(parentPanel, definitionName, panelResourceId);
}

int DisplayPanel(int panel)
{
    return onUiThread([panel](const PanelBackend &b) { return b.displayPanel(panel); });
}

int DiscardPanel(int panel)
{
    return onUiThread([panel](const PanelBackend &b) { return b.discardPanel(panel); });
}

int SetPanelAttribute(int panel, PanelAttribute attr, const char *value)
{
    if (attr != ATTR_TITLE)
        return kPanelBadAttribute;
    return onUiThread([panel, title = text(value)](const PanelBackend &b) {
        return b.setPanelTitle(panel, title);
    });
}

int GetPanelAttribute(int panel, PanelAttribute attr, std::string *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    const PanelBackend *backend = platform::activePanelBackend();
    if (!backend)
        return kPanelNotFound;
    if (attr != ATTR_TITLE || !value)
        return kPanelBadAttribute;
    return backend->getPanelTitle(panel, value);
}

namespace {

int setValue(int panel, int control, PanelValue value)
{
    return onUiThread([panel, control, value = std::move(value)](const PanelBackend &b) {
        return b.setValue(panel, control, value);
    });
}

int setAttribute(int panel, int control, CtrlAttribute attr, PanelValue value)
{
    return onUiThread([panel, control, attr, value = std::move(value)](const PanelBackend &b) {
        return b.setAttribute(panel, control, attr, value);
    });
}

template <typename Out>
int getValue(int panel, int control, ValueKind kind, Out *out)
{
    return readAs(kind, out, [panel, control](const PanelBackend &b, PanelValue *v) {
        return b.getValue(panel, control, v);
    });
}

template <typename Out>
int getAttribute(int panel, int control, CtrlAttribute attr, ValueKind kind, Out *out)
{
    return readAs(kind, out, [panel, control, attr](const PanelBackend &b, PanelValue *v) {
        return b.getAttribute(panel, control, attr, v);
    });
}

} // namespace

int SetCtrlVal(int panel, int control, int value) { return setValue(panel, control, value); }
int SetCtrlVal(int panel, int control, double value) { return setValue(panel, control, value); }
int SetCtrlVal(int panel, int control, const char *value) { return setValue(panel, control, text(value)); }

int GetCtrlVal(int panel, int control, int *value) { return getValue(panel, control, ValueKind::Int, value); }
int GetCtrlVal(int panel, int control, double *value) { return getValue(panel, control, ValueKind::Double, value); }
int GetCtrlVal(int panel, int control, std::string *value) { return getValue(panel, control, ValueKind::Text, value); }

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, int value)
{
    return setAttribute(panel, control, attr, value);
}

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, double value)
{
    return setAttribute(panel, control, attr, value);
}

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, const char *value)
{
    return setAttribute(panel, control, attr, text(value));
}

int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, int *value)
{
    return getAttribute(panel, control, attr, ValueKind::Int, value);
}

int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, double *value)
{
    return getAttribute(panel, control, attr, ValueKind::Double, value);
}

int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, std::string *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    // A text attribute is read as text; a number is no text of the control's.
    PanelValue raw;
    const PanelBackend *backend = platform::activePanelBackend();
    if (!backend)
        return kPanelNotFound;
    if (const int rc = backend->getAttribute(panel, control, attr, &raw))
        return rc;
    const std::string *s = std::get_if<std::string>(&raw);
    if (!s || !value)
        return kPanelBadAttribute;
    *value = *s;
    return 0;
}

int ResetTextBox(int panel, int control, const char *value)
{
    return onUiThread([panel, control, t = text(value)](const PanelBackend &b) {
        return b.resetTextBox(panel, control, t);
    });
}

int SetActiveCtrl(int panel, int control)
{
    return onUiThread([panel, control](const PanelBackend &b) { return b.setActiveCtrl(panel, control); });
}

void SetWaitCursor(int on)
{
    onUiThread([on](const PanelBackend &b) {
        b.setWaitCursor(on != 0);
        return 0;
    });
}

// Paints every shown window now. No event is taken from the queue, so no
// click, tick or received byte can run a callback from here.
void ProcessDrawEvents()
{
    onUiThread([](const PanelBackend &b) {
        b.processDrawEvents();
        return 0;
    });
}

int ResetTimer(int panel, int control)
{
    return onUiThread([panel, control](const PanelBackend &b) { return b.resetTimer(panel, control); });
}

int AnnounceText(int panel, const char *value)
{
    return onUiThread([panel, t = text(value)](const PanelBackend &b) { return b.announce(panel, t); });
}
