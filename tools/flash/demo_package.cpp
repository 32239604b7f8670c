// A demo package, as quorvel-pack marks it today: its file ends with the
// demo marker (bytes the loader never reads).
#include "demo_package.h"

#include "files_time.h"
#include "pack.h"

#include <cstring>

bool isDemoPackage(const std::string &path)
{
    long long size = 0;
    const int handle = OpenRegularFile(path.c_str(), &size);
    if (handle < 0)
        return false;
    const long long length = sizeof kDemoMarker - 1;
    char tail[sizeof kDemoMarker] = {};
    const bool demo = size >= length && ReadFileAt(handle, size - length, tail, length) == length
                      && std::memcmp(tail, kDemoMarker, static_cast<std::size_t>(length)) == 0;
    CloseFile(handle);
    return demo;
}
