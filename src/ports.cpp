// The port scan. All of it runs on the UI thread.
#include "ports.h"

#include "dialogue.h"
#include "loader_state.h"
#include "platform.h"

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
} // namespace

void OuvertureCom()
{
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        loader.portStatus[port] = OpenComConfig(port, "", kBaudRate, kParityNone, kDataBits, kStopBits,
                                                kInputQueueSize, kOutputQueueSize);
        if (loader.portStatus[port] != 0)
            continue;  // no such port, or held by another program: skipped silently
        SetComTime(port, kTimeoutSeconds);
        SetXMode(port, 0);
        SetCTSMode(port, 0);
        FlushInQ(port);
        FlushOutQ(port);
        InstallComCallback(port, kReceivedCharEvent, 0, kCarriageReturn, ReceptionRS, nullptr);
    }
}

void FermetureAutresCom()
{
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        if (loader.portStatus[port] == 0 && port != loader.connectedPort) {
            InstallComCallback(port, 0, 0, 0, nullptr, nullptr);
            CloseCom(port);
            loader.portStatus[port] = -1;
        }
    }
}

void FermetureCom()
{
    const int port = loader.connectedPort;
    if (port == 0)
        return;
    InstallComCallback(port, 0, 0, 0, nullptr, nullptr);
    CloseCom(port);
}
