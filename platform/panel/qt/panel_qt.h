// The panel in a window, on Qt Widgets: what the Quorvel program shows.
#pragma once

// Makes every later panel and popup call use windows and widgets. Call
// before InitRunTime; the program links quorvel_panel_qt for it.
void UseQtPanel();
