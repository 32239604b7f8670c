// Panel window.
#include "panel_window.h"

#include <QCloseEvent>

namespace platform {

PanelWindow::PanelWindow(QWidget *parent) : QWidget(parent) {}

void PanelWindow::setFontPixelSize(int pixels)
{
    QFont f = font();
    f.setPixelSize(qMax(1, pixels));
    setFont(f);
}

void PanelWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit closeRequested();
}

} // namespace platform
