// The progress tick, on the UI thread, every TIMER interval of an update.
#include "progress.h"

#include "annonce.h"
#include "control.h"
#include "loader_state.h"
#include "messages.h"
#include "outcome.h"
#include "platform.h"
#include "ui_constants.h"

#include <cstdint>
#include <cstdio>

namespace {
constexpr int kAnimationFrames = 9;
constexpr int kGreen = 0x00FF00;
} // namespace

void FinMiseAJourReussie(int panel, int timerControl)
{
    DeciderIssue(UpdateOutcome::Success);
    // A camera may report its flash written while the image still goes out.
    // The worker stops first, so that what it logs as it leaves ("Transfer
    // aborted!") comes before the verdict, never after it.
    if (loader.workerRunning) {
        loader.transferActive = 0;
        AbandonPool();
    }
    loader.displayedStep = kStepWritten;
    SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, kGreen);
    SetCtrlVal(panel, LED2, 0);
    SetCtrlVal(panel, TEXTBOX, Msg(MSG_SUCCESS, loader.language));
    SetCtrlAttribute(panel, timerControl, ATTR_ENABLED, 0);
    ArretCom();
}

void AvancementProgression(int panel, int timerControl)
{
    ++loader.tickCount;
    SetCtrlVal(panel, PICTURE, loader.tickCount % kAnimationFrames);
    const int perSecond = loader.ticksPerSecond > 0 ? loader.ticksPerSecond : 1;
    if (loader.tickCount % perSecond != 0)
        return;

    ++loader.elapsedSeconds;
    char time[32];
    std::snprintf(time, sizeof time, "%02i:%02i", loader.elapsedSeconds / 60, loader.elapsedSeconds % 60);
    SetCtrlVal(panel, TEMPS, time);
    // One reading of the worker's count, so rate, megabytes and the next
    // mark's base agree with each other.
    const int32_t sent = loader.bytesSent;
    SetCtrlVal(panel, TAUX, static_cast<double>(sent - loader.lastBytesSent) / 1024.0);
    SetCtrlVal(panel, OCTET, static_cast<double>(sent) / 1048576.0);
    loader.lastBytesSent = sent;

    if (loader.displayedStep == loader.reportedStep)
        return;
    // Only the latest step counts: steps reported within one second are skipped.
    loader.displayedStep = loader.reportedStep;
    AnnoncerEtape(loader.displayedStep);
    switch (loader.displayedStep) {
    case kStepFileReceived:
        SetCtrlVal(panel, LED1, 1);
        SetCtrlVal(panel, TEXTBOX, Msg(MSG_ERASING_LOG, loader.language));
        break;
    case kStepErased:
        SetCtrlVal(panel, LED1, 0);
        SetCtrlVal(panel, LED2, 1);
        SetCtrlVal(panel, TEXTBOX, Msg(MSG_PROGRAMMING_LOG, loader.language));
        break;
    case kStepWritten:
        FinMiseAJourReussie(panel, timerControl);
        break;
    default:
        break;
    }
}
