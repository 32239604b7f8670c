// Update control: Start, Stop, the close box, the language toggle, and the
// start and end of an update. Everything here runs on the UI thread.
//
//   Transfert      dispatch of the control callback
//   GestionStart   Start: instructions, reset, port scan
//   GestionStop    Stop: end the transfer or release the scanned ports
//   BasculeLangue  the language toggle
//   EnvoiStart / ArretCom   start and end of an update
//   CameraDeconnectee       end of an update whose camera went away
#include "control.h"

#include "annonce.h"
#include "loader_state.h"
#include "messages.h"
#include "numbers.h"
#include "outcome.h"
#include "platform.h"
#include "ports.h"
#include "progress.h"
#include "ui_constants.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kRed = 0xFF0000;
constexpr int kBlack = 0x000000;
const char kStartCommand[] = "START";
// The instructions' remark fits the operator's system: on Linux the camera
// needs no driver, on Windows it names where the driver is.
#ifdef _WIN32
constexpr MessageId kInstructions = MSG_INSTRUCTIONS;
#else
constexpr MessageId kInstructions = MSG_INSTRUCTIONS_LINUX;
#endif

// Set while EnvoiStart runs the Stop handler to release the other ports:
// that call must keep the connected camera.
bool releasingOtherPorts = false;

void GestionStart(int panel)
{
    EtatMarche(panel);
    const int choice = GenericMessagePopup(Msg(MSG_PLEASE, loader.language),
                                           Msg(kInstructions, loader.language),
                                           Msg(MSG_OK, loader.language),
                                           Msg(MSG_CANCEL, loader.language), nullptr);
    // A camera connected while the popup was open is in its update: neither
    // answer may tear it down. (The line's callbacks wait for the popup to
    // close, so this is the guard of last resort.)
    if (loader.bootloaderFound)
        return;
    if (choice != 1) {
        EtatRepos(panel);
        // Start was hidden while the popup was open: the keyboard comes back to it.
        SetActiveCtrl(panel, GO);
        return;
    }
    SetWaitCursor(1);
    // Nothing of the last update is left: an image of a whole number of
    // blocks leaves transferActive set and its pool behind (its worker has
    // returned); both are released here.
    ResetLoaderState(LoaderReset::Scan);
    AnnoncerIssue();  // none yet: this update's outcome will be told
    SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, kRed);
    SetCtrlVal(panel, LED1, 0);
    SetCtrlVal(panel, LED2, 0);
    SetCtrlVal(panel, OCTET, 0.0);
    SetCtrlAttribute(panel, OCTET, ATTR_LABEL_TEXT, Msg(MSG_SIZE_UNIT, loader.language));
    SetCtrlVal(panel, SLIDE, 0);
    SetCtrlAttribute(panel, SLIDE, ATTR_LABEL_TEXT, "0 %");
    SetCtrlVal(panel, TEMPS, "00:00");
    ResetTextBox(panel, TEXTBOX, "");
    OuvertureCom();
    SetActiveCtrl(panel, STOP);  // Start hid under the popup: the keyboard goes to Stop
}

void GestionStop(int panel)
{
    // A camera that has reported its flash written has been updated, even
    // when the operator presses Stop before the panel has shown it.
    if (!releasingOtherPorts && loader.connectedPort != 0 && loader.reportedStep == kStepWritten) {
        FinMiseAJourReussie(panel, TIMER);
        EtatRepos(panel);
        SetWaitCursor(0);
        return;
    }
    if (!releasingOtherPorts)
        DeciderIssue(UpdateOutcome::Stopped);  // kept under a verdict already given
    if (loader.transferActive) {
        // Cleared first: the worker tests it before every block and leaves;
        // the port is closed only once the worker has returned.
        loader.transferActive = 0;
        AbandonPool();
        ArretCom();
    } else {
        FermetureAutresCom();
        // A camera still connected after "ERROR" or after the whole image
        // went out: the operator's Stop ends that update too, so the panel
        // can start again. (EnvoiStart's own call keeps the camera.)
        if (!releasingOtherPorts && loader.connectedPort != 0) {
            AbandonPool();
            ArretCom();
        }
    }
    EtatRepos(panel);
    if (!releasingOtherPorts)
        SetActiveCtrl(panel, GO);  // Stop hid under the keyboard: it comes back to Start
    SetWaitCursor(0);
    AnnoncerIssue();
}

void BasculeLangue(int panel)
{
    int value = 0;
    GetCtrlVal(panel, LANGU, &value);
    loader.language = value == 0 ? 1 : 0;
    SetCtrlVal(panel, LANGU, loader.language);

    const int lang = loader.language;
    SetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, Msg(MSG_NOT_CONNECTED, lang));
    SetCtrlAttribute(panel, LED1, ATTR_LABEL_TEXT, Msg(MSG_ERASING, lang));
    SetCtrlAttribute(panel, LED2, ATTR_LABEL_TEXT, Msg(MSG_PROGRAMMING, lang));
    SetCtrlVal(panel, TITRE_TAUX, Msg(MSG_RATE_TITLE, lang));
    SetCtrlVal(panel, TITRE_TEMPS, Msg(MSG_TIME_TITLE, lang));
    SetCtrlVal(panel, DUREE, Msg(MSG_DURATION, lang));
    SetCtrlAttribute(panel, OCTET, ATTR_LABEL_TEXT, Msg(MSG_SIZE_UNIT, lang));
    SetCtrlAttribute(panel, GO, ATTR_LABEL_TEXT, Msg(MSG_START, lang));
    SetCtrlAttribute(panel, STOP, ATTR_LABEL_TEXT, Msg(MSG_STOP, lang));
    SetCtrlAttribute(panel, TAUX, ATTR_LABEL_TEXT, Msg(MSG_RATE_UNIT, lang));
    NommerControles(panel);
}

} // namespace

void NommerControles(int panel)
{
    struct Name { int control; MessageId message; };
    static const Name kNames[] = {
        {LANGU, MSG_NAME_LANGUAGE},   {TEXTBOX, MSG_NAME_LOG},      {SLIDE, MSG_NAME_PROGRESS},
        {OCTET, MSG_NAME_MEGABYTES},  {TAUX, MSG_NAME_RATE},        {TEMPS, MSG_NAME_TIME},
        {BOOT, MSG_NAME_CONNECTION},  {PICTURE, MSG_NAME_ANIMATION},
    };
    for (const Name &name : kNames)
        SetCtrlAttribute(panel, name.control, ATTR_ACCESSIBLE_NAME, Msg(name.message, loader.language));
}

void AbandonPool()
{
    if (loader.threadPool != 0) {
        // A worker waiting on a line the camera no longer reads leaves now,
        // not at its write's time-out: the update it served has ended.
        if (loader.workerRunning && loader.connectedPort != 0) {
            loader.transferActive = 0;
            CancelComWrite(loader.connectedPort);
        }
        CmtDiscardThreadPool(loader.threadPool);  // returns once the worker has returned
        loader.threadPool = 0;
    }
}

void EtatRepos(int panel)
{
    SetCtrlAttribute(panel, STOP, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panel, GO, ATTR_VISIBLE, 1);
    SetCtrlAttribute(panel, LANGU, ATTR_DIMMED, 0);
}

void EtatMarche(int panel)
{
    SetCtrlAttribute(panel, GO, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panel, STOP, ATTR_VISIBLE, 1);
    SetCtrlAttribute(panel, LANGU, ATTR_DIMMED, 1);
}

int Transfert(int panel, int control, int event, void * /*callbackData*/, int /*eventData1*/,
              int /*eventData2*/)
{
    switch (event) {
    case EVENT_LEFT_CLICK:
        if (control == LANGU)
            BasculeLangue(panel);
        break;
    case EVENT_COMMIT:
        if (control == STOP)
            GestionStop(panel);
        else if (control == GO)
            GestionStart(panel);
        break;
    case EVENT_TIMER_TICK:
        AvancementProgression(panel, control);
        break;
    default:
        break;
    }
    return 0;
}

int Sortir(int panel, int event, void * /*callbackData*/, int /*eventData1*/, int /*eventData2*/)
{
    if (event == EVENT_CLOSE) {
        Transfert(panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        QuitUserInterface(0);
    }
    return 0;
}

int EnvoiStart()
{
    const int panel = loader.panel;
    OublierIssue();  // a camera connected: its update has no outcome yet
    releasingOtherPorts = true;
    Transfert(panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
    releasingOtherPorts = false;

    const int startLength = static_cast<int>(sizeof kStartCommand - 1);
    const int sent = ComWrt(loader.connectedPort, kStartCommand, startLength);
    char logged[32];
    std::snprintf(logged, sizeof logged, "%s : ", kStartCommand);
    SetCtrlVal(panel, TEXTBOX, logged);
    // A START the cable did not take whole never reached the camera: it
    // will not answer, and a stray "START OK" must not bring it a header
    // and an image it never asked for. The update ends here.
    if (sent != startLength) {
        if (GetInQLen(loader.connectedPort) == kComHangUp) {
            CameraDeconnectee();  // the camera went away as it was found
            return 0;
        }
        DeciderIssue(UpdateOutcome::SendFailed);
        SetCtrlVal(panel, TEXTBOX, Msg(MSG_ABORTED, loader.language));
        ArretCom();
        return 0;
    }

    EtatMarche(panel);
    SetActiveCtrl(panel, STOP);
    loader.transferActive = 1;
    ResetTimer(0, 0);
    SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1);
    SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, kRed);
    SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, 1);

    char sizeLabel[64];
    const double megabytes = static_cast<double>(static_cast<uint32_t>(loader.imageSize.load()))
                             / std::pow(2.0, 20.0);
    char megabytesText[32];
    FormatFixe(megabytesText, sizeof megabytesText, megabytes, 3);
    std::snprintf(sizeLabel, sizeof sizeLabel, "/ %s %s", megabytesText,
                  Msg(MSG_SIZE_UNIT, loader.language));
    SetCtrlAttribute(panel, OCTET, ATTR_LABEL_TEXT, sizeLabel);
    SetCtrlAttribute(panel, PICTURE, ATTR_VISIBLE, 1);
    SetCtrlVal(panel, PICTURE, 0);

    loader.bytesSent = 0;
    loader.elapsedSeconds = 0;
    loader.lastBytesSent = 0;
    loader.lastPercent = 0;
    loader.tickCount = 0;
    loader.reportedStep = kStepNone;
    loader.displayedStep = kStepNone;
    loader.startAcknowledged = 0;
    loader.headerSent = 0;
    return 0;
}

int ArretCom()
{
    const int panel = loader.panel;
    // A camera may report its flash written while the image still goes out
    // (or the worker finish its last block after it): the worker leaves
    // before the port it writes to is closed.
    if (loader.workerRunning) {
        loader.transferActive = 0;
        AbandonPool();
    }
    SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 0);
    SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, kBlack);
    SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, 0);
    SetCtrlAttribute(panel, PICTURE, ATTR_VISIBLE, 0);
    FermetureCom();
    SetCtrlVal(panel, BOOT, 0);
    SetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, Msg(MSG_NOT_CONNECTED, loader.language));
    loader.connectedPort = 0;
    loader.bootloaderFound = 0;
    EtatRepos(panel);
    SetActiveCtrl(panel, GO);
    AnnoncerIssue();
    return 0;
}

void CameraDeconnectee()
{
    if (loader.connectedPort == 0)
        return;
    // Many bootloaders restart into the new firmware as soon as the flash is
    // written, and the port goes with them: that update has succeeded.
    if (loader.reportedStep == kStepWritten) {
        FinMiseAJourReussie(loader.panel, TIMER);
        return;
    }
    DeciderIssue(UpdateOutcome::Disconnected);
    SetCtrlVal(loader.panel, TEXTBOX, Msg(MSG_CAMERA_DISCONNECTED, loader.language));
    // The Stop handler stops the worker first (it fails its writes now and
    // leaves), then ArretCom closes the port, whether or not the image was
    // still going out.
    Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
}
