// Accessible interfaces of the panel's controls. Each control is named by
// its accessible name when the program gave one, else by its own text
// (a LED's label, a text message's text); its value is what it shows.
//
//   window          Window, named by its title
//   LED             CheckBox, read-only, checked while lit
//   slide           ProgressBar, 0..100, its label ("50 %") as its text
//   numeric         StaticText, its number and unit ("0.250 / 1.500 Mb")
//   text message    StaticText, its text
//   picture ring    Button with a press action when operable, else Animation
#include "control_accessible.h"

#include "led.h"
#include "numeric_display.h"
#include "panel_window.h"
#include "picture_ring.h"
#include "slide.h"
#include "text_message.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace platform {

namespace {

// The name the program gave, else the control's own text.
QString nameOr(const QWidget *widget, const QString &ownText)
{
    const QString given = widget->accessibleName();
    return given.isEmpty() ? ownText : given;
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

    // Named by what it stands for; its label says the state in words when
    // the name is another text ("Camera connection": "Connected COM3 used").
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), led()->label());
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

class NumericAccessible : public QAccessibleWidget {
public:
    explicit NumericAccessible(NumericDisplay *w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    NumericDisplay *display() const { return static_cast<NumericDisplay *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), display()->label());
        if (t == QAccessible::Value) {
            const QString unit = display()->label();
            return unit.isEmpty() ? display()->displayedText()
                                  : display()->displayedText() + u' ' + unit;
        }
        return QAccessibleWidget::text(t);
    }
};

class TextMessageAccessible : public QAccessibleWidget {
public:
    explicit TextMessageAccessible(TextMessage *w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    TextMessage *message() const { return static_cast<TextMessage *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOr(widget(), message()->value());
        if (t == QAccessible::Value)
            return message()->value();
        return QAccessibleWidget::text(t);
    }
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
