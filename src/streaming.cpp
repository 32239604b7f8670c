// The streaming worker. Runs on the pool's thread; its panel updates are
// queued to the UI thread by the platform layer.
#include "streaming.h"

#include "loader_state.h"
#include "messages.h"
#include "outcome.h"
#include "platform.h"
#include "ports.h"
#include "ui_constants.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {
constexpr uint32_t kBlockSize = 512;
constexpr double kPauseAfterBlock = 0.0001;
} // namespace

int EnvoiRS(void * /*functionData*/)
{
    const uint8_t *position = loader.imageBuffer;
    const uint32_t size = static_cast<uint32_t>(loader.imageSize.load());
    SetCtrlVal(loader.panel, TEXTBOX, Msg(MSG_TRANSFERRING, loader.language));

    uint32_t length = size < kBlockSize ? size : kBlockSize;
    loader.bytesSent = 0;
    while (length > 0 && loader.transferActive) {
        const int count = ComWrt(loader.connectedPort, reinterpret_cast<const char *>(position),
                                 static_cast<int>(length));
        Delay(kPauseAfterBlock);
        if (count > 0)
            loader.bytesSent += count;
        const uint32_t sent = static_cast<uint32_t>(loader.bytesSent.load());
        if (count != static_cast<int>(length) || length < kBlockSize) {
            // A short write the loader did not ask for (Stop and "ERROR"
            // clear transferActive first, and their verdict stands). On a
            // line that hung up, the UI thread handles the hang-up as the
            // port's own callback would: what the camera said before it is
            // judged first, and the camera's disconnection outranks this.
            if (count != static_cast<int>(length) && loader.transferActive) {
                DeciderIssue(UpdateOutcome::SendFailed);
                if (GetInQLen(loader.connectedPort) == kComHangUp)
                    PostDeferredCall(PerteVueEnEcrivant,
                                     reinterpret_cast<void *>(static_cast<std::intptr_t>(loader.connectedPort.load())));
            }
            loader.transferActive = 0;  // short write, or the last block
        } else {
            position += kBlockSize;
            const uint32_t remaining = size - sent;
            length = remaining <= kBlockSize ? remaining : kBlockSize;
        }
        // 64-bit product: every 32-bit image size gets the right percentage.
        const int percent = static_cast<int>(static_cast<uint64_t>(sent) * 100u / size);
        if (percent > loader.lastPercent) {
            loader.lastPercent = percent;
            char label[16];
            std::snprintf(label, sizeof label, "%i %%", percent);
            SetCtrlVal(loader.panel, SLIDE, percent);
            SetCtrlAttribute(loader.panel, SLIDE, ATTR_LABEL_TEXT, label);
        }
    }

    SetCtrlVal(loader.panel, OCTET, loader.bytesSent / std::pow(2.0, 20.0));
    if (static_cast<uint32_t>(loader.bytesSent.load()) == size) {
        SetCtrlVal(loader.panel, SLIDE, 100);
        SetCtrlAttribute(loader.panel, SLIDE, ATTR_LABEL_TEXT, "100 %");
    } else {
        SetCtrlVal(loader.panel, TEXTBOX, Msg(MSG_ABORTED, loader.language));
    }
    // Last: from here a new load may replace the buffer.
    loader.workerRunning = false;
    return 0;
}
