// Panel definitions: Qt Designer XML built in as resources. Each control
// carries the dynamic properties "ctrlId" (its id) and optionally "callback"
// (the name of its callback); the top-level widget carries "panelId" and
// "callback". Controls without a Qt twin are our widgets, created here.
#include "panel_loader.h"
#include "panel.h"

#include "widgets/command_button.h"
#include "widgets/led.h"
#include "widgets/numeric_display.h"
#include "widgets/panel_window.h"
#include "widgets/picture_ring.h"
#include "widgets/slide.h"
#include "widgets/text_box.h"
#include "widgets/text_message.h"
#include "widgets/timer_control.h"

#include <QFile>
#include <QUiLoader>
#include <set>

namespace platform {

namespace {

class PanelUiLoader : public QUiLoader {
public:
    PanelUiLoader() { setTranslationEnabled(false); }

    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override
    {
        QWidget *widget = createControl(className, parent);
        if (!widget)
            return QUiLoader::createWidget(className, parent, name);
        widget->setObjectName(name);
        return widget;
    }

private:
    static QWidget *createControl(const QString &className, QWidget *parent)
    {
        if (className == QLatin1String("PanelWindow"))
            return new PanelWindow(parent);
        if (className == QLatin1String("CommandButton"))
            return new CommandButton(parent);
        if (className == QLatin1String("TextMessage"))
            return new TextMessage(parent);
        if (className == QLatin1String("TextBox"))
            return new TextBox(parent);
        if (className == QLatin1String("NumericDisplay"))
            return new NumericDisplay(parent);
        if (className == QLatin1String("Led"))
            return new Led(parent);
        if (className == QLatin1String("Slide"))
            return new Slide(parent);
        if (className == QLatin1String("PictureRing"))
            return new PictureRing(parent);
        if (className == QLatin1String("TimerControl"))
            return new TimerControl(parent);
        return nullptr;
    }
};

// A definition name is a plain file name; nothing outside the built-in
// definitions can be reached through it.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u'.'
           && name != QLatin1String("..");
}

} // namespace

int loadPanelDefinition(const QString &definitionName, int panelId, LoadedPanel *out)
{
    if (!isPlainName(definitionName))
        return kPanelNotFound;
    QFile file(QStringLiteral(":/") + definitionName);
    if (!file.exists())
        return kPanelNotFound;
    if (!file.open(QIODevice::ReadOnly))
        return kPanelUnreadable;

    PanelUiLoader loader;
    std::unique_ptr<QWidget> root(loader.load(&file));
    auto *window = qobject_cast<PanelWindow *>(root.get());
    if (!window)
        return kPanelUnreadable;
    bool ok = false;
    const int id = window->property("panelId").toInt(&ok);
    if (!ok || id != panelId)
        return kPanelNoSuchPanel;

    LoadedPanel loaded;
    loaded.callbackName = window->property("callback").toString();
    std::set<int> ids;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        const QVariant ctrlId = widget->property("ctrlId");
        if (!ctrlId.isValid())
            continue;  // an inner part of a control (scroll bars, viewport)
        const int control = ctrlId.toInt(&ok);
        if (!ok || control <= 0 || !ids.insert(control).second)
            return kPanelUnreadable;
        auto *ring = qobject_cast<PictureRing *>(widget);
        if (ring && !ring->itemsValid())
            return kPanelUnreadable;  // a picture is missing from the build
        loaded.controls.push_back({control, widget, widget->property("callback").toString()});
    }
    root.release();
    loaded.window.reset(window);
    *out = std::move(loaded);
    return 0;
}

} // namespace platform
