// The bootloader dialogue, camera side of the line to loader side:
//   banner "Bootloader v..." + product -> START
//   "START OK"  -> size-and-checksum header, then the image (worker)
//   "FILE OK" / "ERASE OK" / "WRITE OK" -> progress steps 1, 2, 3
//   "ERROR"     -> the worker stops after its current block
#include "dialogue.h"
#include "annonce.h"

#include "collecte.h"
#include "control.h"
#include "loader_state.h"
#include "messages.h"
#include "outcome.h"
#include "package.h"
#include "platform.h"
#include "streaming.h"
#include "ui_constants.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kShortestChunk = 6;         // shorter chunks are line noise: ignored
constexpr int kThreadPoolAttributeFour = 4;

struct Product {
    const char *identifier;
    int index;
};
// Tried in this order; the first found wins.
constexpr Product kProducts[] = {{"KWT6083", 1}, {"RZ4417", 0}};

void accepterBanniere(int portNumber, const char *chunk, const Product &product)
{
    std::snprintf(loader.productName, sizeof loader.productName, "%s", product.identifier);
    loader.productIndex = product.index;
    loader.connectedPort = portNumber;
    loader.bootloaderFound = 1;

    char label[100];
    std::snprintf(label, sizeof label, "%s - COM%i %s", Msg(MSG_CONNECTED, loader.language),
                  portNumber, Msg(MSG_USED, loader.language));
    SetCtrlVal(loader.panel, BOOT, loader.bootloaderFound);
    SetCtrlAttribute(loader.panel, BOOT, ATTR_LABEL_TEXT, label);
    SetCtrlVal(loader.panel, TEXTBOX, chunk);
    VerifFichier(loader.productIndex);
    EnvoiStart();
    SetWaitCursor(0);
    ProcessDrawEvents();
}

void refuserProduitInconnu(int portNumber, const char *chunk)
{
    std::snprintf(loader.productName, sizeof loader.productName, "%s", "UNKNOWN");
    loader.productIndex = -1;
    loader.transferActive = 0;
    loader.connectedPort = portNumber;
    DeciderIssue(UpdateOutcome::UnknownProduct);
    ArretCom();
    const char *message = Msg(MSG_UNKNOWN_PRODUCT, loader.language);
    SetWaitCursor(0);
    SetCtrlVal(loader.panel, TEXTBOX, chunk);
    MessagePopup(Msg(MSG_ERROR_TITLE, loader.language), message);
}

void examinerBanniere(int portNumber, const char *chunk)
{
    for (const Product &product : kProducts) {
        if (ContientMot(chunk, product.identifier)) {
            accepterBanniere(portNumber, chunk, product);
            return;
        }
    }
    refuserProduitInconnu(portNumber, chunk);
}

// No worker will send the image: nothing more goes to the camera, the log
// says the transfer was aborted and the update ends.
void abandonnerMiseAJour()
{
    DeciderIssue(UpdateOutcome::SendFailed);
    loader.transferActive = 0;
    AbandonPool();
    SetCtrlVal(loader.panel, TEXTBOX, Msg(MSG_ABORTED, loader.language));
    ArretCom();
}

// "START OK": load the image, send the header and start the worker. A START
// OK is honoured once per START, for an identified camera, and never while a
// worker still sends: anything else would put a second header and image on
// the line, or change the buffer under the running worker.
// Returns true when it has logged the chunk itself.
bool accepterStartOk(const char *chunk)
{
    if (loader.productIndex < 0 || loader.connectedPort == 0 || loader.workerRunning
        || loader.startAcknowledged)
        return false;  // only logged, like any other text
    loader.startAcknowledged = 1;

    // The previous update's worker has returned by now; release its thread.
    AbandonPool();
    if (const int loaded = ChecksumFichier(loader.productIndex); loaded != 0) {
        // No header and no byte of a partial image may reach the camera.
        DeciderIssue(UpdateOutcome::PackageRefused);
        SetCtrlVal(loader.panel, TEXTBOX, chunk);
        SetCtrlVal(loader.panel, TEXTBOX,
                   Msg(loaded == kPackageChanged ? MSG_PACKAGE_CHANGED : MSG_BAD_IMAGE,
                       loader.language));
        loader.transferActive = 0;
        ArretCom();
        return true;
    }

    // The acknowledgement completes the "START : " line before the worker
    // can log anything of its own.
    SetCtrlVal(loader.panel, TEXTBOX, chunk);
    ProcessDrawEvents();

    // The worker's thread exists before the header goes out: a camera told
    // the size of an image must get the image.
    if (CmtNewThreadPool(1, &loader.threadPool) != 0) {
        loader.threadPool = 0;
        abandonnerMiseAJour();
        return true;
    }
    char header[17];
    FormatEnteteCamera(header, static_cast<uint32_t>(loader.imageSize.load()),
                       static_cast<uint32_t>(loader.imageChecksum));
    // A header cut short leaves the camera reading our image as header bytes.
    if (ComWrt(loader.connectedPort, header, 16) != 16) {
        // A line that hung up as the camera said START OK: the camera went
        // away, which is what the operator must hear.
        if (GetInQLen(loader.connectedPort) == kComHangUp) {
            loader.transferActive = 0;
            CameraDeconnectee();
        } else {
            abandonnerMiseAJour();
        }
        return true;
    }
    loader.headerSent = 1;

    loader.workerRunning = true;
    if (CmtScheduleThreadPoolFunction(loader.threadPool, EnvoiRS, nullptr, nullptr) != 0) {
        loader.workerRunning = false;  // else every later "START OK" is ignored
        abandonnerMiseAJour();
        return true;
    }
    CmtSetThreadPoolAttribute(loader.threadPool, kThreadPoolAttributeFour, 0);
    return true;
}

void traiterReponse(const char *chunk)
{
    if (ContientMot(chunk, "START OK")) {
        if (accepterStartOk(chunk))
            return;  // logged there, before the worker started
    } else if (ContientMot(chunk, "FILE OK")) {
        loader.reportedStep = kStepFileReceived;
    } else if (ContientMot(chunk, "ERASE OK")) {
        loader.reportedStep = kStepErased;
    } else if (ContientMot(chunk, "WRITE OK")) {
        loader.reportedStep = kStepWritten;
    } else if (ContientMot(chunk, "ERROR")) {
        loader.transferActive = 0;  // the worker stops after its current block
        if (loader.connectedPort != 0)  // the connected camera's own refusal
            DeciderIssue(UpdateOutcome::CameraError);
        AnnoncerIssue();
    }
    SetCtrlVal(loader.panel, TEXTBOX, chunk);
    ProcessDrawEvents();
}

// The camera speaks ASCII: its words fold as ASCII in every locale (under
// Turkish rules tolower('I') is not 'i', and "file ok" would go unheard).
char minusculeAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool ContientMot(const char *text, const char *word)
{
    const size_t length = std::strlen(word);
    for (const char *p = text; *p; ++p) {
        size_t i = 0;
        while (i < length && p[i] && minusculeAscii(p[i]) == minusculeAscii(word[i]))
            ++i;
        if (i == length)
            return true;
    }
    return length == 0;
}

namespace {

// A whole chunk from one port: a banner while none has been accepted, else
// the bootloader's replies, whatever port it came from.
void traiterChunk(int portNumber, const char *chunk, int length)
{
    if (length < kShortestChunk)
        return;
    if (loader.bootloaderFound == 0 && ContientMot(chunk, "Bootloader v"))
        examinerBanniere(portNumber, chunk);
    else
        traiterReponse(chunk);
}

} // namespace

void ReceptionRS(int portNumber, int eventMask, void * /*callbackData*/)
{
    if (!(eventMask & 1))
        return;
    DebutCollecte(portNumber, traiterChunk);
}
