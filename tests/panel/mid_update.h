// The panel half-way through an update of RZ4417 on COM1, as the program
// leaves it: what the keyboard, screen-reader and contrast tests look at.
#pragma once

#include "control.h"
#include "platform.h"
#include "ui_constants.h"

inline void showMidUpdate(int panel)
{
    EtatMarche(panel);
    SetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, "Connected COM1 used");
    SetCtrlVal(panel, BOOT, 1);
    SetCtrlVal(panel, LED1, 1);
    SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, 0xFF0000);
    SetCtrlVal(panel, SLIDE, 50);
    SetCtrlAttribute(panel, SLIDE, ATTR_LABEL_TEXT, "50 %");
    SetCtrlVal(panel, OCTET, 0.125);
    SetCtrlAttribute(panel, OCTET, ATTR_LABEL_TEXT, "/ 0.250 Mb");
    SetCtrlVal(panel, TAUX, 11.2);
    SetCtrlVal(panel, TEMPS, "00:12");
    SetCtrlAttribute(panel, PICTURE, ATTR_VISIBLE, 1);
}
