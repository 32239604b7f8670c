// Reading a panel definition built into the executable. Internal to the
// panel service: it creates the window and its controls, and leaves binding
// callbacks and delivering events to panel.cpp.
#pragma once

#include <QString>
#include <memory>
#include <vector>

class QWidget;

namespace platform {

class PanelWindow;

struct LoadedControl {
    int id;                // the control's "ctrlId"
    QWidget *widget;       // owned by the window
    QString callbackName;  // "" = no callback
};

struct LoadedPanel {
    std::unique_ptr<PanelWindow> window;
    QString callbackName;  // the panel's own callback, "" = none
    std::vector<LoadedControl> controls;
};

// Loads panel `panelId` of the definition stored as resource ":/<name>".
// Returns 0 and fills `out`, or kPanelNotFound / kPanelUnreadable /
// kPanelNoSuchPanel. A definition whose controls lack a positive, unique
// "ctrlId" counts as unreadable.
int loadPanelDefinition(const QString &definitionName, int panelId, LoadedPanel *out);

} // namespace platform
