// Device nodes appearing on Windows: there is no directory of them to watch.
// A USB serial device plugged in gets its COM name within a second or two,
// and the port watch's periodic try (every period, at most a second apart
// while the loader listens) opens it then.
#include "device_directory_watch.h"

namespace platform {

bool startDeviceDirectoryWatch(void (*)())
{
    return false;
}

void stopDeviceDirectoryWatch() {}

} // namespace platform
