// Start-up and shut-down.
#include "startup.h"

#include "control.h"
#include "loader_state.h"
#include "package.h"
#include "platform.h"
#include "ui_constants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    GetProjectDir(loader.projectDir, sizeof loader.projectDir);

    char executable[kPathSize + 64];
    std::snprintf(executable, sizeof executable, "%s/%s", loader.projectDir, GetExecutableName());
    int month = 0, day = 0, year = 0;
    GetFileDate(executable, &month, &day, &year);
    char title[128];
    std::snprintf(title, sizeof title, "Quorvel - %s - %02i/%02i/%04i", kVersionText, day, month, year);
    SetPanelAttribute(panel, ATTR_TITLE, title);

    std::snprintf(loader.productName, sizeof loader.productName, "%s", "UNKNOWN");
    loader.productIndex = -1;

    // A directory too long for the path is reported as a missing package,
    // never as some other, truncated path.
    const int pathLength = std::snprintf(loader.packagePath, sizeof loader.packagePath, "%.*s/vers.kq",
                                         kPathSize - 9, loader.projectDir);
    if (pathLength < 0 || std::strlen(loader.projectDir) > static_cast<size_t>(kPathSize - 9))
        loader.packagePath[0] = '\0';
    if (!PackagePresent()) {
        const int answer = SignalerPackageAbsent();
        DiscardPanel(panel);  // never shown
        return answer;
    }
    LectureEntete();

    double interval = 0.0;
    GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval);
    loader.ticksPerSecond = TicksParSeconde(interval);

    SetCtrlVal(panel, LANGU, loader.language);
    DisplayPanel(panel);
    RunUserInterface();

    // A worker may still be finishing its last block (after "ERROR"): wait
    // for it before its buffer goes.
    AbandonPool();
    std::free(loader.imageBuffer.exchange(nullptr));
    return DiscardPanel(panel);
}
