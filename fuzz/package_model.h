// The package fuzzer's oracle: what the loader must read from a package
// file (vers.kq), worked out from the package's description alone. It
// shares no code, constant or header with the loader:
//
//   - the header line is the file's bytes up to its first line feed, which
//     must be among the file's first 4096 bytes; otherwise there is none;
//   - the line holds, in order, a real, an integer, a real, an integer,
//     each a word between blanks (space, tab) ending at a blank, a carriage
//     return or the line feed. A word that is not wholly a number of its
//     kind, or a value out of range (a real beyond a double or one that
//     would read as 0 although its digits are not all 0; an integer outside
//     32 bits signed), leaves it and the fields after it unread and
//     unchanged; the header counts as read only with all four;
//   - a header not read loads no image at all;
//   - image k starts right after the header line, behind the images before
//     it, and loads only when the file holds all its bytes; a size of 0
//     always loads; a negative size never does;
//   - the checksum is the complement of the wrapping 32-bit byte sum, and
//     the camera is told size and checksum as 8 upper-case hexadecimal
//     digits each;
//   - the INFO line is "Updating with NAME v0V.VV : M.MMM Mb ..." (French:
//     "Mise à jour avec" and "Mo"), the name and version cut to 19 bytes and
//     the whole line to 99;
//   - in a build that trusts a key, the package is used only when its
//     signature trailer (docs/package-signature.md) verifies against that
//     key and says kind release; a refused package loads no image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace package_model {

// The header line, read as a package file is meant to be read.
struct Header {
    double versions[2] = {-7.0, -7.0};  // what the fields hold before the read
    int32_t sizes[2] = {-7, -7};
    bool complete = false;  // all four fields were read
    std::size_t length = 0; // bytes of the header line, line feed included; 0: none
};
Header ReadHeader(const std::string &file);

// The image that loads for `index` (0 or 1), or false when the load must fail.
bool Image(const std::string &file, const Header &header, int index, std::string *image);

uint32_t Checksum(const std::string &bytes);

// The 16 characters the camera is told before the image.
std::string CameraHeader(uint32_t size, uint32_t checksum);

// The INFO line for `name` (language 0 English, 1 French).
std::string InfoLine(const char *name, double version, int32_t size, int language);

// True when `file` is a release signed by the 32-byte Ed25519 public key
// `trustedKey`, every byte as signed: footer, manifest, signature, the
// header's and the images' SHA-256 (libgcrypt, called here directly).
bool SignedRelease(const std::string &file, const Header &header, const std::string &trustedKey);

} // namespace package_model
