// Start-up and shut-down.
#include "startup.h"

#include "control.h"
#include "loader_state.h"
#include "messages.h"
#include "package.h"
#include "platform.h"
#include "ui_constants.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int TicksParSeconde(double intervalSeconds)
{
    if (!(intervalSeconds > 0.0))
        return 1;
    const int ticks = static_cast<int>(1.0 / intervalSeconds + 0.5);
    return ticks >= 1 ? ticks : 1;  // the one-second mark divides by it
}

int QuorvelMain(int argc, char **argv)
{
    if (!InitRunTime(argc, argv))
        return -1;
    RegisterCtrlCallback("Transfert", Transfert);
    RegisterPanelCallback("Sortir", Sortir);

    loader.language = 0;
    const int panel = LoadPanel(0, "Quorvel.uir", PANEL);
    if (panel < 0)
        return panel;
    loader.panel = panel;
    const bool placeKnown = GetProjectDir(&loader.projectDir) == 0;

    const std::string executable = loader.projectDir + "/" + GetExecutableName();
    int month = 0, day = 0, year = 0;
    GetFileDate(executable.c_str(), &month, &day, &year);
    char title[128];
    std::snprintf(title, sizeof title, "Quorvel - %s - %02i/%02i/%04i", kVersionText, day, month, year);
    SetPanelAttribute(panel, ATTR_TITLE, title);

    std::snprintf(loader.productName, sizeof loader.productName, "%s", "UNKNOWN");
    loader.productIndex = -1;

    // An executable whose place cannot be told has no package beside it:
    // never some other folder's vers.kq.
    loader.packagePath = placeKnown ? loader.projectDir + "/vers.kq" : std::string();
    if (!PackagePresent()) {
        const int answer = SignalerPackageAbsent();
        DiscardPanel(panel);  // never shown
        return answer;
    }
    LectureEntete();
    // Refused as a missing package is: the operator is told why, and no
    // panel offers a Start that could send it.
    if (const std::string refusal = RefusPackage(loader.language); !refusal.empty()) {
        MessagePopup(Msg(MSG_ERROR_TITLE, loader.language), refusal.c_str());
        DiscardPanel(panel);
        return -1;
    }
    AnnoncerSignatures(panel);

    double interval = 0.0;
    GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval);
    loader.ticksPerSecond = TicksParSeconde(interval);

    SetCtrlVal(panel, LANGU, loader.language);
    NommerControles(panel);
    DisplayPanel(panel);
    SetActiveCtrl(panel, GO);  // the keyboard starts on Start, not in the log
    RunUserInterface();

    // A worker may still be finishing its last block (after "ERROR"): wait
    // for it before its buffer goes.
    AbandonPool();
    std::free(loader.imageBuffer.exchange(nullptr));
    return DiscardPanel(panel);
}
