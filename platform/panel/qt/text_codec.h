// Shared between the panel and popup services; not for the program.
#pragma once

#include <QString>
#include <string>

namespace platform {

// The program's texts are UTF-8. Bytes that are not valid UTF-8 (a camera
// talking in an 8-bit code page) are taken as Latin-1 rather than lost.
QString textFromBytes(const std::string &bytes);
std::string bytesFromText(const QString &text);

} // namespace platform
