// Accessible interfaces of the panel's controls. Each control is named by
// its accessible name when the program gave one, else by its own text
// (a LED's label, a text message's text); its value is what it shows.
//
//   window          Window, named by its title; its controls in reading order
//                   (top to bottom, a framed group read whole, left to
//                   right), the decorative frames and the timer left out
//   LED             CheckBox, read-only, checked while lit; given a name,
//                   named "name, label" ("Camera connection, Connected - COM3 used")
//   slide           ProgressBar, 0..100, read-only, its label ("50 %") as its text
//   numeric         StaticText, read-only, its number as value and its number
//                   and unit as text ("0.250 / 1.500 Mb")
//   text message    StaticText, its text as text
//   picture ring    Button with a press action when operable, else Animation
//   announcer       Notification, named by the message it carries
//
// Texts are offered through the text interface as well as the value: a
// screen reader reviewing the window reads what is shown, not the name twice.
#include "control_accessible.h"

#include "announcer.h"
#include "led.h"
#include "numeric_display.h"
#include "panel_window.h"
#include "picture_ring.h"
#include "slide.h"
#include "text_message.h"
#include "timer_control.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusFrame>
#include <QFrame>
#include <algorithm>

namespace platform {

namespace {

// The name the program gave, else the control's own text.
QString nameOr(const QWidget *widget, const QString &ownText)
{
    const QString given = widget->accessibleName();
    return given.isEmpty() ? ownText : given;
}

// A text shown whole and never edited, for the text interface.
class ShownText : public QAccessibleTextInterface {
public:
    virtual QString shownText() const = 0;

    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override
    {
        const QString all = shownText();
        start = qBound(0, start, int(all.size()));
        end = end < 0 ? int(all.size()) : qBound(start, end, int(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(shownText().size()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return QString();
    }
};

// A plain frame drawn around a group of controls: nothing to read.
bool isDecoration(const QWidget *w)
{
    return w->metaObject() == &QFrame::staticMetaObject;
}

// The frame of the panel that holds `w`, if any.
const QWidget *frameAround(const QWidget *w, const QList<QWidget *> &siblings)
{
    for (const QWidget *s : siblings)
        if (isDecoration(s) && s->geometry().contains(w->geometry()))
            return s;
    return nullptr;
}

class WindowAccessible : public QAccessibleWidget {
public:
    explicit WindowAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::Window) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), widget()->windowTitle());
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return int(readingOrder().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> order = readingOrder();
        if (index < 0 || index >= order.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(order.at(index));
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        return int(readingOrder().indexOf(qobject_cast<QWidget *>(child->object())));
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        for (QWidget *w : readingOrder())
            if (w->isVisible() && QRect(w->mapToGlobal(QPoint(0, 0)), w->size()).contains(x, y))
                return QAccessible::queryAccessibleInterface(w);
        return nullptr;
    }

private:
    // The window's controls as the eye reads them: by the top of the
    // line (a framed group counts as one line at the frame's top, read
    // whole before what stands to its right), then from left to right. The
    // notification comes last; decorative frames and the timer, which is
    // never shown, are left out.
    QList<QWidget *> readingOrder() const
    {
        QList<QWidget *> siblings;
        for (QObject *o : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && !w->isWindow() && !qobject_cast<QFocusFrame *>(w))
                siblings << w;
        }
        QList<QWidget *> order;
        for (QWidget *w : siblings)
            if (!isDecoration(w) && !qobject_cast<Announcer *>(w) && !qobject_cast<TimerControl *>(w))
                order << w;
        auto key = [&siblings](const QWidget *w) {
            const QWidget *frame = frameAround(w, siblings);
            const QRect group = frame ? frame->geometry() : w->geometry();
            return std::make_tuple(group.top(), group.left(), w->y(), w->x());
        };
        std::stable_sort(order.begin(), order.end(),
                         [&key](const QWidget *a, const QWidget *b) { return key(a) < key(b); });
        for (QWidget *w : siblings)
            if (qobject_cast<Announcer *>(w))
                order << w;
        return order;
    }
};

class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer *w) : QAccessibleWidget(w, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<Announcer *>(widget())->message();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = false;
        s.readOnly = true;
        return s;
    }
};

class LedAccessible : public QAccessibleWidget {
public:
    explicit LedAccessible(Led *w) : QAccessibleWidget(w, QAccessible::CheckBox) {}

    Led *led() const { return static_cast<Led *>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = led()->value();
        s.readOnly = true;
        s.focusable = false;
        return s;
    }

    // Named by what it stands for and by its label, which says the state in
    // words ("Camera connection, Connected COM3 used"): a screen reader reads
    // a check box's name, never its value.
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString given = widget()->accessibleName();
            if (given.isEmpty())
                return led()->label();
            return led()->label().isEmpty() ? given : given + QStringLiteral(", ") + led()->label();
        }
        if (t == QAccessible::Value)
            return widget()->accessibleName().isEmpty() ? QString() : led()->label();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override { return {}; }  // nothing to press
};

class SlideAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SlideAccessible(Slide *w) : QAccessibleWidget(w, QAccessible::ProgressBar) {}

    Slide *slide() const { return static_cast<Slide *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), QString());
        if (t == QAccessible::Value)
            return slide()->label();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return slide()->value(); }
    void setCurrentValue(const QVariant &) override {}  // the program moves it, not the operator
    QVariant maximumValue() const override { return Slide::kMaximum; }
    QVariant minimumValue() const override { return Slide::kMinimum; }
    QVariant minimumStepSize() const override { return 1; }
};

class NumericAccessible : public QAccessibleWidget, public QAccessibleValueInterface, public ShownText {
public:
    explicit NumericAccessible(NumericDisplay *w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    using ShownText::text;  // the text interface's text(start, end), beside the accessible's text(kind)

    NumericDisplay *display() const { return static_cast<NumericDisplay *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), display()->label());
        if (t == QAccessible::Value)
            return display()->spokenText();
        return QAccessibleWidget::text(t);
    }

    QString shownText() const override { return display()->spokenText(); }

    QVariant currentValue() const override { return display()->value(); }
    void setCurrentValue(const QVariant &) override {}  // the program sets it, not the operator
    QVariant maximumValue() const override { return display()->maximum(); }
    QVariant minimumValue() const override { return display()->minimum(); }
    QVariant minimumStepSize() const override { return 0; }
};

class TextMessageAccessible : public QAccessibleWidget, public ShownText {
public:
    explicit TextMessageAccessible(TextMessage *w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    using ShownText::text;  // the text interface's text(start, end), beside the accessible's text(kind)

    TextMessage *message() const { return static_cast<TextMessage *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), message()->value());
        if (t == QAccessible::Value)
            return message()->value();
        return QAccessibleWidget::text(t);
    }

    QString shownText() const override { return message()->value(); }
};

class PictureRingAccessible : public QAccessibleWidget {
public:
    explicit PictureRingAccessible(PictureRing *w) : QAccessibleWidget(w, QAccessible::Animation) {}

    PictureRing *ring() const { return static_cast<PictureRing *>(widget()); }

    QAccessible::Role role() const override
    {
        return ring()->operable() ? QAccessible::Button : QAccessible::Animation;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), QString());
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (ring()->operable() && ring()->isEnabled())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction())
            ring()->press();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface *controlInterface(const QString &key, QObject *object)
{
    QWidget *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (key == QLatin1String("platform::PanelWindow") && widget->isWindow())
        return new WindowAccessible(widget);
    if (key == QLatin1String("platform::Led"))
        return new LedAccessible(static_cast<Led *>(widget));
    if (key == QLatin1String("platform::Slide"))
        return new SlideAccessible(static_cast<Slide *>(widget));
    if (key == QLatin1String("platform::NumericDisplay"))
        return new NumericAccessible(static_cast<NumericDisplay *>(widget));
    if (key == QLatin1String("platform::TextMessage"))
        return new TextMessageAccessible(static_cast<TextMessage *>(widget));
    if (key == QLatin1String("platform::PictureRing"))
        return new PictureRingAccessible(static_cast<PictureRing *>(widget));
    if (key == QLatin1String("platform::Announcer"))
        return new AnnouncerAccessible(static_cast<Announcer *>(widget));
    return nullptr;
}

} // namespace

void installControlAccessibility()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(controlInterface);
        installed = true;
    }
}

} // namespace platform
