// The panel on Qt Widgets: windows loaded from the built-in definition,
// controls addressed by panel handle and control id, and their events
// delivered to the program's callbacks. UI thread only (panel.cpp hands the
// program's calls over).
//
//   1. Loaded panels and event delivery
//   2. Values
//   3. Attributes
//   4. Focus, wait cursor, drawing, timers
//   5. The backend
#include "panel_qt.h"
#include "panel.h"
#include "panel_backend.h"
#include "callback_names.h"
#include "event_loop.h"
#include "panel_loader.h"
#include "popup_hold.h"

#include "widgets/announcer.h"
#include "widgets/control_accessible.h"
#include "widgets/panel_window.h"
#include "widgets/picture_ring.h"
#include "widgets/text_box.h"
#include "widgets/timer_control.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QFocusFrame>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPointer>
#include <map>
#include <string>
#include <variant>

namespace platform {

int runQtPopup(const std::string &title, const std::string &message, const PopupButtons &buttons);

namespace {

// ---------------------------------------------------------------------------
// 1. Loaded panels and event delivery

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

// A read-only log box draws no focus of its own: a focus frame around it
// shows the keyboard is there, while it has the focus. (Given its box, the
// frame shows itself and follows the box; without one it hides.)
class FocusFrameFilter : public QObject {
public:
    FocusFrameFilter(QWidget *box, QFocusFrame *frame) : QObject(box), box_(box), frame_(frame) {}

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn)
            frame_->setWidget(box_);
        else if (event->type() == QEvent::FocusOut)
            frame_->setWidget(nullptr);
        return false;
    }

private:
    QWidget *box_;
    QFocusFrame *frame_;
};

void showFocusAround(QWidget *box)
{
    auto *frame = new QFocusFrame(box->parentWidget());
    frame->hide();
    box->installEventFilter(new FocusFrameFilter(box, frame));
}

int loadPanel(int parentPanel, const QString &definitionName, int panelResourceId)
{
    PanelWindow *parent = nullptr;
    if (parentPanel != 0) {
        PanelRecord *parentRecord = findPanel(parentPanel);
        if (!parentRecord)
            return kPanelBadHandle;
        parent = parentRecord->window;
    }
    installControlAccessibility();
    LoadedPanel loaded;
    if (const int rc = loadPanelDefinition(definitionName, panelResourceId, &loaded))
        return rc;

    const int handle = nextPanelHandle++;
    PanelWindow *window = loaded.window.release();
    window->fitDesktopFont();
    window->setProperty("panelHandle", handle);  // lets tests find the window of a handle
    auto *clicks = new LeftClickFilter(handle, window);
    PanelRecord record;
    record.window = window;
    record.callback = findPanelCallback(loaded.callbackName.toStdString());
    for (const LoadedControl &control : loaded.controls) {
        const int id = control.id;
        const CtrlCallbackPtr callback = findCtrlCallback(control.callbackName.toStdString());
        record.controls[id] = ControlRecord{control.widget, callback};
        if (auto *box = qobject_cast<TextBox *>(control.widget))
            showFocusAround(box);
        if (!callback)
            continue;
        control.widget->installEventFilter(clicks);
        if (auto *button = qobject_cast<QAbstractButton *>(control.widget))
            QObject::connect(button, &QAbstractButton::clicked, clicks,
                             [handle, id] { deliverControlEvent(handle, id, EVENT_COMMIT); });
        // A picture the operator can press is pressed from the keyboard too,
        // with the click's effect.
        if (auto *ring = qobject_cast<PictureRing *>(control.widget)) {
            ring->setOperable(true);
            QObject::connect(ring, &PictureRing::pressed, clicks,
                             [handle, id] { deliverControlEvent(handle, id, EVENT_LEFT_CLICK); });
        }
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
// 2. Values
//
// Values and attributes travel as QVariant (int, double or QString) and are
// written to the control's Qt property of that name, converted to its type.

// A property's value as the program reads it: a flag or colour as an int.
PanelValue toPanelValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QColor:
        return int(value.value<QColor>().rgb() & 0xFFFFFFu);
    default:
        return value.toString().toStdString();
    }
}

QVariant toVariant(const PanelValue &value)
{
    if (const bool *b = std::get_if<bool>(&value))
        return *b;
    if (const int *i = std::get_if<int>(&value))
        return *i;
    if (const double *d = std::get_if<double>(&value))
        return *d;
    return QString::fromStdString(std::get<std::string>(value));
}

bool toInt(const QVariant &value, int *out)
{
    PanelValue converted;
    if (!convertForKind(toPanelValue(value), ValueKind::Int, &converted))
        return false;
    *out = std::get<int>(converted);
    return true;
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
    case QMetaType::Double:
        if (value.typeId() != QMetaType::Int && value.typeId() != QMetaType::Double
            && value.typeId() != QMetaType::Bool)
            return false;
        value = value.toDouble();
        return true;
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
// 3. Attributes

const char *propertyName(CtrlAttribute attribute)
{
    switch (attribute) {
    case ATTR_LABEL_TEXT: return "label";
    case ATTR_TEXT_COLOR: return "textColor";
    case ATTR_TEXT_BOLD: return "textBold";
    case ATTR_FILL_COLOR: return "fillColor";
    case ATTR_ENABLED: return "timerEnabled";
    case ATTR_INTERVAL: return "interval";
    case ATTR_ACCESSIBLE_NAME: return "accessibleName";
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
// 4. Focus, wait cursor, drawing, timers

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

// ---------------------------------------------------------------------------
// 5. The backend

// The toolkit is given this one argument, never the command line: the
// program takes no options, and Qt's own (-reverse, -style, -platform...)
// would change the operator's panel. QApplication keeps references to argc
// and argv for its whole life.
char applicationName[] = "Quorvel";
int applicationArgc = 1;
char *applicationArgv[] = {applicationName, nullptr};

// The window introduces itself as the menu entry does: the class "Quorvel"
// (StartupWMClass of com.quorvel.Quorvel.desktop), that entry's name as its
// Wayland app id, and the program's icon, built in.
void introduceApplication()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(applicationName));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quorvel.Quorvel"));
    QSvgRenderer drawing(QStringLiteral(":/quorvel.svg"));
    if (!drawing.isValid())
        return;
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        drawing.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    QApplication::setWindowIcon(icon);
}

bool startApplication()
{
    if (QCoreApplication *app = QCoreApplication::instance()) {
        if (!qobject_cast<QApplication *>(app))
            return false;
    } else {
        new QApplication(applicationArgc, applicationArgv);  // reachable to the end, never deleted
    }
    introduceApplication();
    return true;
}

int displayPanel(int panel)
{
    PanelRecord *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    record->window->show();
    record->window->raise();
    return 0;
}

int setPanelTitle(int panel, const std::string &title)
{
    PanelRecord *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    record->window->setWindowTitle(QString::fromStdString(title));
    return 0;
}

int getPanelTitle(int panel, std::string *title)
{
    PanelRecord *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    *title = record->window->windowTitle().toStdString();
    return 0;
}

int loadPanelByName(int parentPanel, const char *definitionName, int panelResourceId)
{
    return loadPanel(parentPanel, QString::fromUtf8(definitionName), panelResourceId);
}

int setValueOf(int panel, int control, const PanelValue &value)
{
    return setValue(panel, control, toVariant(value));
}

int getValueOf(int panel, int control, PanelValue *value)
{
    QVariant v;
    if (const int rc = readValue(panel, control, &v))
        return rc;
    *value = toPanelValue(v);
    return 0;
}

int setAttributeOf(int panel, int control, CtrlAttribute attribute, const PanelValue &value)
{
    return setAttribute(panel, control, attribute, toVariant(value));
}

int getAttributeOf(int panel, int control, CtrlAttribute attribute, PanelValue *value)
{
    QVariant v;
    if (const int rc = readAttribute(panel, control, attribute, &v))
        return rc;
    *value = toPanelValue(v);
    return 0;
}

int resetTextBox(int panel, int control, const std::string &text)
{
    QWidget *widget = findControl(panel, control);
    if (!widget)
        return kPanelBadHandle;
    auto *box = qobject_cast<TextBox *>(widget);
    if (!box)
        return kPanelBadAttribute;
    box->setText(QString::fromStdString(text));
    return 0;
}

int setActiveCtrl(int panel, int control)
{
    QWidget *widget = findControl(panel, control);
    if (!widget)
        return kPanelBadHandle;
    widget->setFocus(Qt::OtherFocusReason);
    return 0;
}

void setWaitCursor(bool on)
{
    if (on && !waitCursorOn)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (!on && waitCursorOn)
        QApplication::restoreOverrideCursor();
    waitCursorOn = on;
}

// Paints every shown window now, synchronously. No event is taken from the
// queue, so no click, tick or received byte can run a callback from here.
void processDrawEvents()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible())
            window->repaint();
}

int announce(int panel, const std::string &text)
{
    PanelRecord *record = findPanel(panel);
    if (!record)
        return kPanelBadHandle;
    Announcer::of(record->window)->announce(QString::fromStdString(text));
    return 0;
}

const PanelBackend kQtPanel = {
    startApplication, loadPanelByName, displayPanel,   discardPanel,      setPanelTitle,
    getPanelTitle,    setValueOf,      getValueOf,     setAttributeOf,    getAttributeOf,
    resetTextBox,     setActiveCtrl,   setWaitCursor,  processDrawEvents, resetTimer,
    runQtPopup,       announce,
};

} // namespace

} // namespace platform

void UseQtPanel()
{
    platform::setDefaultEventLoop(&platform::kQtEventLoop);  // the window runs on Qt's loop
    platform::selectPanelBackend(&platform::kQtPanel);
}
