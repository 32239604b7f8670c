// quorvel-pack: builds a firmware package "vers.kq" from two images and
// shows what a package holds, through the loader's own package code.
#pragma once

#include <cstdio>
#include <string>

// Image k of a package is the firmware of this product (the loader's order).
constexpr const char *kPackProducts[2] = {"RZ4417", "KWT6083"};

// What `create --demo` writes after image 1, and how inspect knows a demo
// package: bytes Quorvel never reads, ending the file. Random demo images
// would brick a real camera, so such a package is never shipped.
constexpr char kDemoMarker[] = "\nQUORVEL DEMO PACKAGE: random images, never for a real camera\n";

struct PackImage {
    std::string path;     // the image file, taken byte for byte
    std::string version;  // written into the header exactly as given
};

// Exit codes of both commands.
constexpr int kPackOk = 0;
constexpr int kPackRefused = 1;  // the package was not written, or Quorvel would not update from it
constexpr int kPackUsage = 2;    // wrong arguments, or a file that cannot be read at all

// Writes `output` as the header line "V0 S0 V1 S1", a line feed, image 0 and
// image 1 (then kDemoMarker when `demo`), through a temporary file in the
// same folder renamed into place (mode 0644). Each image must be a regular
// file. On refusal nothing is left behind and `error` says why.
// Prints what was written to `out`.
int createPackage(const std::string &output, const PackImage images[2], bool demo, std::FILE *out,
                  std::string *error);

// Prints each product's version, size, checksum, camera header and INFO
// line, whether every image byte is there, how many bytes trail, and
// whether it is a demo package. kPackOk when Quorvel would update both
// products from the package (a demo package too: it would, and a test
// camera may take it); kPackUsage when it is no regular file or cannot be read.
int inspectPackage(const std::string &path, std::FILE *out, std::string *error);
