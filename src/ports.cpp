// The port scan. All of it runs on the UI thread.
//
//   ouvrirPort        one port with the bootloader's line settings
//   signalerRefus     the operator's line for a port that exists but is refused
//   PerteCom          a listened or connected port whose device went away
//   signalerEcoute    the operator's line when ports listen and no camera answers
//   OuvertureCom / ReessaiCom / FermetureAutresCom / FermetureCom
#include "ports.h"

#include "collecte.h"
#include "control.h"
#include "dialogue.h"
#include "loader_state.h"
#include "messages.h"
#include "platform.h"
#include "ui_constants.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr long kBaudRate = 115200;
constexpr int kParityNone = 0;
constexpr int kDataBits = 8;
constexpr int kStopBits = 1;
constexpr int kInputQueueSize = 512;
constexpr int kOutputQueueSize = -1;
constexpr double kTimeoutSeconds = 1.0;
constexpr int kReceivedCharEvent = 1;
constexpr int kCarriageReturn = 13;
constexpr double kRetryPeriodSeconds = 1.0;   // a port that appears is heard within about this
constexpr double kSilenceWarningSeconds = 10.0;

// What this update's scan has seen. Reset at each Ok.
struct Scrutation {
    bool running = false;
    double startedAt = 0.0;        // Timer() at the operator's Ok
    bool anyPortOpened = false;    // some port opened at least once
    bool silenceReported = false;  // the "no port at all" line was written
    bool listeningReported = false; // the "listening, no camera" line was written
    // Per COM number: a refusal waits for a second try before it is told (a
    // node udev has just created is not yet given its group), and each
    // device is told once per update.
    char pending[kComPortCount][256] = {};   // device refused at the last try, same reason
    int pendingError[kComPortCount] = {};
    char reported[kComPortCount][256] = {};  // device already told about
};
Scrutation scan;

void journal(const char *text)
{
    SetCtrlVal(loader.panel, TEXTBOX, text);
}

// One line for a device that exists but cannot be used, in the operator's
// language: the COM number, the device, the reason and its fix.
void signalerRefus(int port, const ComOpenFailure &failure)
{
    char line[768];
    const int lang = loader.language;
    if (failure.error == kComSystemError
        && (failure.systemErrno == EACCES || failure.systemErrno == EPERM)) {
        if (failure.group[0])
            std::snprintf(line, sizeof line, Msg(MSG_PORT_DENIED, lang), port, failure.device,
                          failure.group, failure.group);
        else  // no group may use it: only the administrator can change that
            std::snprintf(line, sizeof line, Msg(MSG_PORT_DENIED_ADMIN, lang), port, failure.device);
    } else if (failure.error == kComBusy && failure.holder[0]) {
        std::snprintf(line, sizeof line, Msg(MSG_PORT_HELD_BY, lang), port, failure.device,
                      failure.holder, failure.holderPid);
    } else if (failure.error == kComBusy) {
        std::snprintf(line, sizeof line, Msg(MSG_PORT_HELD, lang), port, failure.device);
    } else {
        std::snprintf(line, sizeof line, Msg(MSG_PORT_FAILED, lang), port, failure.device,
                      std::strerror(failure.systemErrno));
    }
    journal(line);
}

// Called after every failed try of `port`: tells the operator once per device
// per update, when the same refusal is seen on two tries in a row.
void noterRefus(int port)
{
    ComOpenFailure failure{};
    if (GetComOpenFailure(port, &failure) != 0 || failure.device[0] == '\0'
        || failure.error == kComNoDevice || failure.error == kComArgumentError
        || failure.ownPort != 0) {
        // Nothing behind this number, or a device another of our numbers
        // already listens to: nothing to tell the operator.
        scan.pending[port][0] = '\0';
        return;
    }
    const bool confirmed = std::strcmp(scan.pending[port], failure.device) == 0
                           && scan.pendingError[port] == failure.error;
    std::snprintf(scan.pending[port], sizeof scan.pending[port], "%s", failure.device);
    scan.pendingError[port] = failure.error;
    if (!confirmed || std::strcmp(scan.reported[port], failure.device) == 0)
        return;
    std::snprintf(scan.reported[port], sizeof scan.reported[port], "%s", failure.device);
    signalerRefus(port, failure);
}

void PerteCom(int port, int /*eventMask*/, void * /*callbackData*/);
void perdrePort(int port);

// Opens one port with the bootloader's line settings, its receive callback
// and its hang-up callback. Returns what the open returned.
int ouvrirPort(int port)
{
    const int status = OpenComConfig(port, "", kBaudRate, kParityNone, kDataBits, kStopBits,
                                     kInputQueueSize, kOutputQueueSize);
    if (status != 0)
        return status;
    SetComTime(port, kTimeoutSeconds);
    SetXMode(port, 0);
    SetCTSMode(port, 0);
    // Listening starts afresh: what came before, a chunk half gathered
    // behind the instructions included, is dropped.
    AbandonCollecte(port);
    HoldComCallback(port, 0);
    FlushInQ(port);
    FlushOutQ(port);
    InstallComCallback(port, kReceivedCharEvent, 0, kCarriageReturn, ReceptionRS, nullptr);
    InstallComHangUpCallback(port, PerteCom, nullptr);
    return 0;
}

void essayerPort(int port)
{
    loader.portStatus[port] = ouvrirPort(port);
    if (loader.portStatus[port] == 0) {
        scan.anyPortOpened = true;
        scan.pending[port][0] = '\0';
    } else {
        noterRefus(port);
    }
}

// The device of an open port went away. The camera's: the update ends as
// the operator's Stop would end it. A port still listening for a banner: it
// is closed and tried again with the others, so it is heard when it is back.
void perdrePort(int port)
{
    if (port == loader.connectedPort) {
        CameraDeconnectee();
        return;
    }
    AbandonCollecte(port);
    InstallComCallback(port, 0, 0, 0, nullptr, nullptr);
    CloseCom(port);
    loader.portStatus[port] = kComHangUp;  // the watch tries it again when its node is back
}

// What the camera said before its port went away is judged first: a camera
// that restarts right after "WRITE OK" has been updated.
void PerteCom(int port, int /*eventMask*/, void * /*callbackData*/)
{
    if (port == loader.connectedPort && PerteApresCollecte(port, perdrePort))
        return;
    perdrePort(port);
}

// Ten seconds after Ok with ports open and no banner: the operator hears
// which ports are listened to, so that a camera not in its Bootloader, a
// loose cable or the PC's own serial port is not mistaken for a hang.
void signalerEcoute()
{
    std::string ports;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        if (loader.portStatus[port] != 0)
            continue;
        char entry[300];
        std::snprintf(entry, sizeof entry, "%sCOM%i (%s)", ports.empty() ? "" : ", ", port,
                      ComDevicePath(port));
        ports += entry;
    }
    std::vector<char> line(ports.size() + 1024);
    std::snprintf(line.data(), line.size(), Msg(MSG_LISTENING, loader.language), ports.c_str());
    journal(line.data());
}

bool portOuvert()
{
    for (int port = kFirstComPort; port <= kLastComPort; ++port)
        if (loader.portStatus[port] == 0)
            return true;
    return false;
}

void finirScrutation()
{
    scan.running = false;
    StopPortWatch();
    ComReleaseNumbering();
}

} // namespace

void PerteVueEnEcrivant(void *portAsData)
{
    const int port = static_cast<int>(reinterpret_cast<std::intptr_t>(portAsData));
    if (port != 0 && port == loader.connectedPort && GetInQLen(port) == kComHangUp)
        PerteCom(port, kComEventHangUp, nullptr);
}

void OuvertureCom()
{
    scan = Scrutation{};
    scan.running = true;
    scan.startedAt = Timer();
    ComHoldNumbering();  // until the scan ends, a COM number keeps its device
    for (int port = kFirstComPort; port <= kLastComPort; ++port)
        essayerPort(port);
    StartPortWatch(ReessaiCom, kRetryPeriodSeconds);
}

void ReessaiCom()
{
    if (!scan.running || loader.bootloaderFound)
        return;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        if (loader.portStatus[port] != 0 && port != loader.connectedPort)
            essayerPort(port);
    }
    if (Timer() - scan.startedAt < kSilenceWarningSeconds)
        return;
    if (!scan.anyPortOpened && !scan.silenceReported) {
        scan.silenceReported = true;
        journal(Msg(MSG_NO_PORT_OPENED, loader.language));
    } else if (!scan.listeningReported && portOuvert()) {
        scan.listeningReported = true;
        signalerEcoute();
    }
}

bool ScrutationEnCours()
{
    return scan.running;
}

void FermetureAutresCom()
{
    finirScrutation();
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        if (loader.portStatus[port] == 0 && port != loader.connectedPort) {
            AbandonCollecte(port);  // what it was saying is dropped with it
            InstallComCallback(port, 0, 0, 0, nullptr, nullptr);
            CloseCom(port);
            loader.portStatus[port] = -1;
        }
    }
}

void FermetureCom()
{
    finirScrutation();
    const int port = loader.connectedPort;
    if (port == 0)
        return;
    AbandonCollecte(port);
    InstallComCallback(port, 0, 0, 0, nullptr, nullptr);
    CloseCom(port);
}
