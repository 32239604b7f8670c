// Shared by the panel tests: the window of a panel handle and its controls.
#pragma once

#include <QApplication>
#include <QWidget>

#include "ui_constants.h"

inline QWidget *panelWindow(int handle)
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->property("panelHandle").toInt() == handle)
            return window;
    return nullptr;
}

template <typename Widget = QWidget>
Widget *controlWidget(int handle, int control)
{
    QWidget *window = panelWindow(handle);
    return window ? window->findChild<Widget *>(QLatin1String(kControlNames[control])) : nullptr;
}
