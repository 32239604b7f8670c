// The firmware package "vers.kq": one text header line with the version and
// size of each of the two images, then the two images back to back.
#pragma once

#include <cstdint>

// True when the file at loader.packagePath exists.
bool PackagePresent();
// Shows the missing-package popup; returns the popup's result.
int SignalerPackageAbsent();
// Reads the header line into packageVersions and packageSizes. A field that
// cannot be read keeps its value; an unopenable file changes nothing.
void LectureEntete();
// Selects image `index` (0 or 1): sets imageSize and shows the update line in INFO. Returns 0.
int VerifFichier(int index);
// Loads image `index` into a new imageBuffer and stores its checksum.
// Returns 0 when the whole image was read, -1 otherwise (imageChecksum then
// unchanged). Must not be called while a worker may still read the buffer.
int ChecksumFichier(int index);
// Bitwise complement of the wrapping 32-bit sum of the bytes, as unsigned.
int32_t Checksum(const uint8_t *data, uint32_t length);
