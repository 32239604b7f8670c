// The bootloader dialogue, camera side of the line to loader side:
//   banner "Bootloader v..." + product -> START
//   "START OK"  -> size-and-checksum header, then the image (worker)
//   "FILE OK" / "ERASE OK" / "WRITE OK" -> progress steps 1, 2, 3
//   "ERROR"     -> the worker stops after its current block
#include "dialogue.h"

#include "control.h"
#include "loader_state.h"
#include "messages.h"
#include "package.h"
#include "platform.h"
#include "streaming.h"
#include "ui_constants.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kReceiveBufferSize = 5000;  // 4999 bytes and the terminator
constexpr int kShortestChunk = 6;         // shorter chunks are line noise: ignored
constexpr double kPauseAfterByte = 0.001;
constexpr int kThreadPoolAttributeFour = 4;

struct Product {
    const char *identifier;
    int index;
};
// Tried in this order; the first found wins.
constexpr Product kProducts[] = {{"KWT6083", 1}, {"RZ4417", 0}};

// Reads what waits on the port into `buffer`, dropping NUL bytes. Stops when
// the queue is found empty after the pause, on a port error, or when the
// buffer is full (what is left arrives in the next chunk).
// The 1 ms pauses run to a schedule, the start plus 1 ms per byte read, so
// a 4999-byte reply holds the UI thread 5 s and not 5 s plus every pause's
// overshoot.
int lireChunk(int port, char *buffer)
{
    int count = 0;
    int bytesRead = 0;  // NUL bytes included: every byte is paused after
    const double start = Timer();
    while (count < kReceiveBufferSize - 1 && GetInQLen(port) > 0) {
        const int byte = ComRdByte(port);
        if (byte < 0)
            break;
        buffer[count] = static_cast<char>(byte & 0xFF);
        if (buffer[count] != 0)
            ++count;
        ++bytesRead;
        DelayUntil(start + bytesRead * kPauseAfterByte);
    }
    buffer[count] = '\0';
    return count;
}

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
    loader.transferActive = 0;
    if (loader.threadPool != 0) {
        CmtDiscardThreadPool(loader.threadPool);
        loader.threadPool = 0;
    }
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
    if (loader.threadPool != 0) {
        CmtDiscardThreadPool(loader.threadPool);
        loader.threadPool = 0;
    }
    if (const int loaded = ChecksumFichier(loader.productIndex); loaded != 0) {
        // No header and no byte of a partial image may reach the camera.
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
        abandonnerMiseAJour();
        return true;
    }

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

void ReceptionRS(int portNumber, int eventMask, void * /*callbackData*/)
{
    if (!(eventMask & 1))
        return;
    char chunk[kReceiveBufferSize] = {};
    if (lireChunk(portNumber, chunk) < kShortestChunk)
        return;

    if (loader.bootloaderFound == 0 && ContientMot(chunk, "Bootloader v"))
        examinerBanniere(portNumber, chunk);
    else
        traiterReponse(chunk);
}
