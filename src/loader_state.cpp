// The loader's state record.
#include "loader_state.h"

#include "control.h"
#include "outcome.h"

#include <cstdlib>
#include <cstring>

LoaderState loader;

void ResetLoaderState(LoaderReset what)
{
    loader.transferActive = 0;  // a worker still sending leaves before its next block
    AbandonPool();
    loader.connectedPort = 0;
    loader.bootloaderFound = 0;
    for (int &status : loader.portStatus)
        status = 0;
    loader.startAcknowledged = 0;
    loader.headerSent = 0;
    loader.productIndex = -1;
    loader.reportedStep = loader.displayedStep = kStepNone;
    OublierIssue();
    if (what == LoaderReset::Scan)
        return;

    loader.productName[0] = '\0';
    loader.language = 0;
    loader.imageChecksum = 0;
    loader.imageSize = 0;
    std::free(loader.imageBuffer.exchange(nullptr));
    loader.packageSizes[0] = loader.packageSizes[1] = 0;
    loader.packageVersions[0] = loader.packageVersions[1] = 0.0;
    loader.packageHeaderRead = 0;
    loader.packageVerdict = PackageVerdict::NotChecked;
    loader.packageDemo = 0;
    loader.packageSigner[0] = '\0';
    std::memset(loader.imageDigests, 0, sizeof loader.imageDigests);
    loader.tickCount = 0;
    loader.elapsedSeconds = 0;
    loader.bytesSent = 0;
    loader.lastBytesSent = 0;
    loader.lastPercent = 0;
}
