// Panels and controls on Qt Widgets, addressed by panel handle and control id.
//
//   1. Run-time and event loop
//   2. Callback names
//   3. Loaded panels and event delivery
//   4. Values
//   5. Attributes
//   6. Focus, wait cursor, drawing, timers
//
// Calls made off the UI thread are queued (ui_queue.h) and run later on the
// UI thread in call order; they capture their arguments by value and return
// 0 at once. On the UI thread a call first runs whatever is still queued, so
// the panel sees every call in the order it was made.
#include "panel.h"
#include "text_codec.h"
#include "panel_loader.h"
#include "popups.h"
#include "ui_queue.h"

#include "widgets/panel_window.h"
#include "widgets/text_box.h"
#include "widgets/timer_control.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QEventLoop>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPointer>
#include <QStringDecoder>
#include <cmath>
#include <climits>
#include <clocale>
#include <functional>
#include <map>
#include <vector>

namespace platform {

QString textFromBytes(const std::string &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string bytesFromText(const QString &text)
{
    return text.toUtf8().toStdString();
}

} // namespace platform

using namespace platform;

namespace {

// Runs `call` now on the UI thread (after the calls queued before it), or
// queues it from any other thread and returns 0.
int onUiThread(std::function<int()> call)
{
    if (OnUiThread()) {
        DeliverQueuedUiCalls();
        return call();
    }
    postToUiThread([call = std::move(call)] { call(); });
    return 0;
}

std::string copyText(const char *text)
{
    return text ? std::string(text) : std::string();
}

// ---------------------------------------------------------------------------
// 1. Run-time and event loop

// The toolkit is given this one argument, never the command line: the
// program takes no options, and Qt's own (-reverse, -style, -platform...)
// would change the operator's panel. QApplication keeps references to argc
// and argv for its whole life.
char applicationName[] = "Quorvel";
int applicationArgc = 1;
char *applicationArgv[] = {applicationName, nullptr};
QApplication *ownApplication = nullptr;  // reachable to the end, never deleted

std::vector<QEventLoop *> runningLoops;  // RunUserInterface calls, innermost last
bool quitPending = false;                // QuitUserInterface came with no loop running
int pendingQuitCode = 0;

// ---------------------------------------------------------------------------
// 2. Callback names (UI thread; registered before the panels are loaded)

std::map<std::string, CtrlCallbackPtr> ctrlCallbacks;
std::map<std::string, PanelCallbackPtr> panelCallbacks;

template <typename Map>
typename Map::mapped_type findCallback(const Map &map, const QString &name)
{
    if (name.isEmpty())
        return nullptr;
    const auto it = map.find(name.toStdString());
    return it == map.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// 3. Loaded panels and event delivery

struct ControlRecord {
    QPointer<QWidget> widget;
    CtrlCallbackPtr callback = nullptr;
};

struct PanelRecord {
    QPointer<PanelWindow> window;
    PanelCallbackPtr callback = nullptr;
    std::map<int, ControlRecord> controls;
};

std::map<int, PanelRecord> panels;
int nextPanelHandle = 1;
int callbackDepth = 0;   // callbacks running now (nested through popups)

PanelRecord *findPanel(int panel)
{
    const auto it = panels.find(panel);
    return it == panels.end() || !it->second.window ? nullptr : &it->second;
}

QWidget *findControl(int panel, int control)
{
    PanelRecord *record = findPanel(panel);
    if (!record)
        return nullptr;
    const auto it = record->controls.find(control);
    return it == record->controls.end() ? nullptr : it->second.widget.data();
}

class CallbackScope {
public:
    CallbackScope() { ++callbackDepth; }
    ~CallbackScope() { --callbackDepth; }
    CallbackScope(const CallbackScope &) = delete;
    CallbackScope &operator=(const CallbackScope &) = delete;
};

// A dimmed control delivers nothing, nor does a hidden one. A timer has no
// picture to hide; its ticks wait for no popup, they are dropped meanwhile.
void deliverControlEvent(int panel, int control, int event)
{
    PanelRecord *record = findPanel(panel);
    if (!record)
        return;
    const auto it = record->controls.find(control);
    if (it == record->controls.end())
        return;
    QWidget *widget = it->second.widget;
    const CtrlCallbackPtr callback = it->second.callback;
    if (!widget || !callback || !widget->isEnabled())
        return;
    if (qobject_cast<TimerControl *>(widget)) {
        if (ModalPopupOpen())
            return;
    } else if (widget->isHidden()) {
        return;
    }
    CallbackScope scope;
    callback(panel, control, event, nullptr, 0, 0);
}

void deliverPanelEvent(int panel, int event)
{
    PanelRecord *record = findPanel(panel);
    if (!record || !record->callback)
        return;
    const PanelCallbackPtr callback = record->callback;
    CallbackScope scope;
    callback(panel, event, nullptr, 0, 0);
}

// Turns a left press on a control into a left-click event. Installed on the
// controls that have a callback.
class LeftClickFilter : public QObject {
public:
    LeftClickFilter(int panel, QObject *parent) : QObject(parent), panel_(panel) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonDblClick) {
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                deliverControlEvent(panel_, watched->property("ctrlId").toInt(), EVENT_LEFT_CLICK);
        }
        return false;  // the control still sees its press (a button goes on to commit)
    }

private:
    int panel_;
};

int loadPanel(int parentPanel, const QString &definitionName, int panelResourceId)
{
    PanelWindow *parent = nullptr;
    if (parentPanel != 0) {
        PanelRecord *parentRecord = findPanel(parentPanel);
        if (!parentRecord)
            return kPanelBadHandle;
        parent = parentRecord->window;
    }
    LoadedPanel loaded;
    if (const int rc = loadPanelDefinition(definitionName, panelResourceId, &loaded))
        return rc;

    const int handle = nextPanelHandle++;
    PanelWindow *window = loaded.window.release();
    window->setProperty("panelHandle", handle);  // lets tests find the window of a handle
    auto *clicks = new LeftClickFilter(handle, window);
    PanelRecord record;
    record.window = window;
    record.callback = findCallback(panelCallbacks, loaded.callbackName);
    for (const LoadedControl &control : loaded.controls) {
        const int id = control.id;
        const CtrlCallbackPtr callback = findCallback(ctrlCallbacks, control.callbackName);
        record.controls[id] = ControlRecord{control.widget, callback};
        if (!callback)
            continue;
        control.widget->installEventFilter(clicks);
        if (auto *button = qobject_cast<QAbstractButton *>(control.widget))
            QObject::connect(button, &QAbstractButton::clicked, clicks,
                             [handle, id] { deliverControlEvent(handle, id, EVENT_COMMIT); });
        if (auto *timer = qobject_cast<TimerControl *>(control.widget))
            QObject::connect(timer, &TimerControl::ticked, clicks,
                             [handle, id] { deliverControlEvent(handle, id, EVENT_TIMER_TICK); });
    }
    QObject::connect(window, &PanelWindow::closeRequested, clicks,
                     [handle] { deliverPanelEvent(handle, EVENT_CLOSE); });
    if (parent)
        window->setParent(parent);  // a child panel lies inside its parent
    panels[handle] = std::move(record);
    return handle;
}

int discardPanel(int panel)
{
    const auto it = panels.find(panel);
    if (it == panels.end())
        return kPanelBadHandle;
    QPointer<PanelWindow> window = it->second.window;
    panels.erase(it);
    if (window) {
        window->hide();
        // From inside one of its own callbacks the window is still on the call stack.
        if (callbackDepth > 0)
            window->deleteLater();
        else
            delete window.data();
    }
    return 0;
}

// ---------------------------------------------------------------------------
// 4. Values
//
// Values and attributes travel as QVariant (int, double or QString) and are
// written to the control's Qt property of that name, converted to its type.

bool toInt(const QVariant &value, int *out)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
        *out = value.toInt();
        return true;
    case QMetaType::Double: {
        const double d = std::round(value.toDouble());
        if (!(d >= double(INT_MIN) && d <= double(INT_MAX)))
            return false;
        *out = static_cast<int>(d);
        return true;
    }
    case QMetaType::QColor: {
        const QColor color = value.value<QColor>();
        *out = int(color.rgb() & 0xFFFFFFu);
        return true;
    }
    default:
        return false;
    }
}

bool toDouble(const QVariant &value, double *out)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::Double:
        *out = value.toDouble();
        return true;
    default:
        return false;
    }
}

bool toText(const QVariant &value, std::string *out)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::Double:
        *out = bytesFromText(value.toString());
        return true;
    default:
        return false;
    }
}

// Converts `value` for a property of type `type`. Numbers convert among
// themselves and into text; text never becomes a number or a colour.
bool convertFor(QVariant &value, QMetaType type)
{
    if (value.metaType() == type)
        return true;
    switch (type.id()) {
    case QMetaType::QColor: {
        int rgb = 0;
        if (value.typeId() != QMetaType::Int || !toInt(value, &rgb))
            return false;
        value = QColor::fromRgb(QRgb(unsigned(rgb)));
        return true;
    }
    case QMetaType::Int:
    case QMetaType::Bool: {
        int number = 0;
        if (value.typeId() == QMetaType::QString || !toInt(value, &number))
            return false;
        value = type.id() == QMetaType::Bool ? QVariant(number != 0) : QVariant(number);
        return true;
    }
    case QMetaType::Double: {
        double number = 0.0;
        if (!toDouble(value, &number))
            return false;
        value = number;
        return true;
    }
    case QMetaType::QString:
        if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Int) {
            value = value.toString();
            return true;
        }
        return false;
    default:
        return false;
    }
}

int writeProperty(QWidget *widget, const char *name, QVariant value)
{
    const QMetaObject *meta = widget->metaObject();
    const int index = meta->indexOfProperty(name);
    if (index < 0)
        return kPanelBadAttribute;
    const QMetaProperty property = meta->property(index);
    if (!convertFor(value, property.metaType()))
        return kPanelBadAttribute;
    return property.write(widget, value) ? 0 : kPanelBadAttribute;
}

int readProperty(QWidget *widget, const char *name, QVariant *value)
{
    const int index = widget->metaObject()->indexOfProperty(name);
    if (index < 0)
        return kPanelBadAttribute;
    *value = widget->metaObject()->property(index).read(widget);
    return 0;
}

int setValue(int panel, int control, const QVariant &value)
{
    QWidget *widget = findControl(panel, control);
    if (!widget)
        return kPanelBadHandle;
    if (auto *box = qobject_cast<TextBox *>(widget)) {
        QVariant text = value;
        if (!convertFor(text, QMetaType(QMetaType::QString)))
            return kPanelBadAttribute;
        box->append(text.toString());
        return 0;
    }
    return writeProperty(widget, "value", value);
}

int readValue(int panel, int control, QVariant *value)
{
    QWidget *widget = findControl(panel, control);
    if (!widget)
        return kPanelBadHandle;
    if (auto *box = qobject_cast<TextBox *>(widget)) {
        *value = box->text();
        return 0;
    }
    return readProperty(widget, "value", value);
}

// ---------------------------------------------------------------------------
// 5. Attributes

const char *propertyName(CtrlAttribute attribute)
{
    switch (attribute) {
    case ATTR_LABEL_TEXT: return "label";
    case ATTR_TEXT_COLOR: return "textColor";
    case ATTR_TEXT_BOLD: return "textBold";
    case ATTR_FILL_COLOR: return "fillColor";
    case ATTR_ENABLED: return "timerEnabled";
    case ATTR_INTERVAL: return "interval";
    case ATTR_VISIBLE:
    case ATTR_DIMMED:
        break;
    }
    return nullptr;
}

int setAttribute(int panel, int control, CtrlAttribute attribute, const QVariant &value)
{
    QWidget *widget = findControl(panel, control);
    if (!widget)
        return kPanelBadHandle;
    if (attribute == ATTR_VISIBLE || attribute == ATTR_DIMMED) {
        int on = 0;
        if (value.typeId() == QMetaType::QString || !toInt(value, &on))
            return kPanelBadAttribute;
        if (attribute == ATTR_DIMMED)
            widget->setEnabled(on == 0);
        else if (qobject_cast<TimerControl *>(widget))
            return kPanelBadAttribute;  // a timer is never shown
        else
            widget->setVisible(on != 0);
        return 0;
    }
    const char *name = propertyName(attribute);
    return name ? writeProperty(widget, name, value) : kPanelBadAttribute;
}

int readAttribute(int panel, int control, CtrlAttribute attribute, QVariant *value)
{
    QWidget *widget = findControl(panel, control);
    if (!widget)
        return kPanelBadHandle;
    // The control's own state, whether or not its panel is shown or dimmed.
    if (attribute == ATTR_VISIBLE) {
        if (qobject_cast<TimerControl *>(widget))
            return kPanelBadAttribute;
        *value = int(!widget->isHidden());
        return 0;
    }
    if (attribute == ATTR_DIMMED) {
        *value = int(widget->testAttribute(Qt::WA_ForceDisabled));
        return 0;
    }
    const char *name = propertyName(attribute);
    return name ? readProperty(widget, name, value) : kPanelBadAttribute;
}

// ---------------------------------------------------------------------------
// 6. Focus, wait cursor, drawing, timers

bool waitCursorOn = false;

void restartTimers(PanelRecord &record, int control)
{
    for (auto &[id, entry] : record.controls) {
        if (control != 0 && id != control)
            continue;
        if (auto *timer = qobject_cast<TimerControl *>(entry.widget.data()))
            timer->restart();
    }
}

int resetTimer(int panel, int control)
{
    if (panel == 0) {
        for (auto &[handle, record] : panels)
            if (record.window)
                restartTimers(record, 0);
        return 0;
    }
    PanelRecord *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    if (control != 0) {
        QWidget *widget = findControl(panel, control);
        if (!widget)
            return kPanelBadHandle;
        if (!qobject_cast<TimerControl *>(widget))
            return kPanelBadAttribute;
    }
    restartTimers(*record, control);
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------
// The program's calls

namespace {

// The toolkit adopts the desktop's locale when it starts. On a French or
// Turkish desktop that would give the C library a decimal comma (the package
// header "1.5 262144" read as 1 and 0) and Turkish case rules (tolower('I')
// is not 'i'). Numbers and the camera's words keep the C locale's meaning:
// LC_NUMERIC is "C"; LC_CTYPE is "C.UTF-8", ASCII rules with the UTF-8
// character set Qt relies on, or plain "C" where that is not installed. The
// other categories (messages, dates) stay the desktop's.
void fixProcessLocale()
{
    std::setlocale(LC_NUMERIC, "C");
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "C");
}

} // namespace

int InitRunTime(int /*argc*/, char ** /*argv*/)
{
    if (QCoreApplication *app = QCoreApplication::instance()) {
        fixProcessLocale();
        return qobject_cast<QApplication *>(app) ? 1 : 0;
    }
    ownApplication = new QApplication(applicationArgc, applicationArgv);
    fixProcessLocale();
    return 1;
}

void RegisterCtrlCallback(const char *name, CtrlCallbackPtr fn)
{
    if (name)
        ctrlCallbacks[name] = fn;
}

void RegisterPanelCallback(const char *name, PanelCallbackPtr fn)
{
    if (name)
        panelCallbacks[name] = fn;
}

int LoadPanel(int parentPanel, const char *definitionName, int panelResourceId)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    if (!definitionName)
        return kPanelNotFound;
    DeliverQueuedUiCalls();
    return loadPanel(parentPanel, QString::fromUtf8(definitionName), panelResourceId);
}

int DisplayPanel(int panel)
{
    return onUiThread([panel] {
        PanelRecord *record = findPanel(panel);
        if (!record)
            return int(kPanelBadHandle);
        record->window->show();
        record->window->raise();
        return 0;
    });
}

int DiscardPanel(int panel)
{
    return onUiThread([panel] { return discardPanel(panel); });
}

int RunUserInterface()
{
    if (!OnUiThread())
        return kPanelWrongThread;
    if (quitPending) {
        quitPending = false;
        return pendingQuitCode;
    }
    QEventLoop loop;
    runningLoops.push_back(&loop);
    const int code = loop.exec();
    runningLoops.pop_back();
    return code;
}

int QuitUserInterface(int returnCode)
{
    return onUiThread([returnCode] {
        if (runningLoops.empty()) {
            quitPending = true;  // the next RunUserInterface returns at once
            pendingQuitCode = returnCode;
        } else {
            runningLoops.back()->exit(returnCode);
        }
        return 0;
    });
}

int SetPanelAttribute(int panel, PanelAttribute attr, const char *value)
{
    return onUiThread([panel, attr, text = copyText(value)] {
        PanelRecord *record = findPanel(panel);
        if (!record)
            return int(kPanelBadHandle);
        if (attr != ATTR_TITLE)
            return int(kPanelBadAttribute);
        record->window->setWindowTitle(textFromBytes(text));
        return 0;
    });
}

int GetPanelAttribute(int panel, PanelAttribute attr, std::string *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    PanelRecord *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    if (attr != ATTR_TITLE || !value)
        return kPanelBadAttribute;
    *value = bytesFromText(record->window->windowTitle());
    return 0;
}

int SetCtrlVal(int panel, int control, int value)
{
    return onUiThread([=] { return setValue(panel, control, QVariant(value)); });
}

int SetCtrlVal(int panel, int control, double value)
{
    return onUiThread([=] { return setValue(panel, control, QVariant(value)); });
}

int SetCtrlVal(int panel, int control, const char *value)
{
    return onUiThread([panel, control, text = copyText(value)] {
        return setValue(panel, control, QVariant(textFromBytes(text)));
    });
}

int GetCtrlVal(int panel, int control, int *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    QVariant v;
    if (const int rc = readValue(panel, control, &v))
        return rc;
    return value && toInt(v, value) ? 0 : kPanelBadAttribute;
}

int GetCtrlVal(int panel, int control, double *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    QVariant v;
    if (const int rc = readValue(panel, control, &v))
        return rc;
    return value && toDouble(v, value) ? 0 : kPanelBadAttribute;
}

int GetCtrlVal(int panel, int control, std::string *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    QVariant v;
    if (const int rc = readValue(panel, control, &v))
        return rc;
    return value && toText(v, value) ? 0 : kPanelBadAttribute;
}

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, int value)
{
    return onUiThread([=] { return setAttribute(panel, control, attr, QVariant(value)); });
}

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, double value)
{
    return onUiThread([=] { return setAttribute(panel, control, attr, QVariant(value)); });
}

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, const char *value)
{
    return onUiThread([panel, control, attr, text = copyText(value)] {
        return setAttribute(panel, control, attr, QVariant(textFromBytes(text)));
    });
}

int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, int *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    QVariant v;
    if (const int rc = readAttribute(panel, control, attr, &v))
        return rc;
    return value && toInt(v, value) ? 0 : kPanelBadAttribute;
}

int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, double *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    QVariant v;
    if (const int rc = readAttribute(panel, control, attr, &v))
        return rc;
    return value && toDouble(v, value) ? 0 : kPanelBadAttribute;
}

int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, std::string *value)
{
    if (!OnUiThread())
        return kPanelWrongThread;
    QVariant v;
    if (const int rc = readAttribute(panel, control, attr, &v))
        return rc;
    if (v.typeId() != QMetaType::QString || !value)
        return kPanelBadAttribute;
    *value = bytesFromText(v.toString());
    return 0;
}

int ResetTextBox(int panel, int control, const char *text)
{
    return onUiThread([panel, control, text = copyText(text)] {
        QWidget *widget = findControl(panel, control);
        if (!widget)
            return int(kPanelBadHandle);
        auto *box = qobject_cast<TextBox *>(widget);
        if (!box)
            return int(kPanelBadAttribute);
        box->setText(textFromBytes(text));
        return 0;
    });
}

int SetActiveCtrl(int panel, int control)
{
    return onUiThread([panel, control] {
        QWidget *widget = findControl(panel, control);
        if (!widget)
            return int(kPanelBadHandle);
        widget->setFocus(Qt::OtherFocusReason);
        return 0;
    });
}

void SetWaitCursor(int on)
{
    onUiThread([on] {
        if (on && !waitCursorOn)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else if (!on && waitCursorOn)
            QApplication::restoreOverrideCursor();
        waitCursorOn = on != 0;
        return 0;
    });
}

// Paints every shown window now, synchronously. No event is taken from the
// queue, so no click, tick or received byte can run a callback from here.
void ProcessDrawEvents()
{
    onUiThread([] {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->isVisible())
                window->repaint();
        return 0;
    });
}

int ResetTimer(int panel, int control)
{
    return onUiThread([panel, control] { return resetTimer(panel, control); });
}
