// The firmware package "vers.kq": one text header line with the version and
// size of each of the two images, then the two images back to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The header line, its line feed included, lies in the package's first
// 4096 bytes; a file without a line feed there has no header at all.
constexpr int kHeaderWindow = 4096;

// Reads the four numbers of a header line ("1.5 262144 2.05 196608", blanks
// or tabs between them) from the `length` bytes at `line` into versions[]
// and sizes[]: version 0, size 0, version 1, size 1. Each number is read
// whole or not at all (numbers.h). Stops at the first field that is not
// there; the fields not read keep their values. Returns true when all four
// were read; anything after the fourth number is not looked at.
// The same in every locale: a decimal point, never a comma.
bool AnalyseEntete(const char *line, std::size_t length, double versions[2], int32_t sizes[2]);
// The same for a header line given as C text (it ends at its terminator).
bool AnalyseEntete(const char *line, double versions[2], int32_t sizes[2]);
// The INFO line for an identified camera, "Updating with RZ4417 v01.50 :
// 0.250 Mb ..." in `language`, cut to fit `size` bytes with its terminator.
void FormatLigneInfo(char *out, std::size_t size, const char *productName, double version,
                     int32_t imageSize, int language);
// The 16 characters that announce an image to the camera: its size, then its
// checksum, each as 8 upper-case hexadecimal digits; out receives 17 bytes.
void FormatEnteteCamera(char out[17], uint32_t size, uint32_t checksum);

// True when a regular file lies at loader.packagePath, even one that this
// user may not read (its header then stays unread). Nothing there, or a
// FIFO, device, folder or socket, is no package.
bool PackagePresent();
// Shows the missing-package popup; returns the popup's result.
int SignalerPackageAbsent();
// Reads the header line into packageVersions and packageSizes. A field that
// cannot be read keeps its value; an unopenable file, or one without a
// header line, changes nothing. Sets packageHeaderRead when all four
// numbers were read. Through the same open, checks the signature trailer
// against the trusted keys (trust.h) and sets packageVerdict, packageDemo,
// packageSigner and, for a verified package, imageDigests.
void LectureEntete();
// True when the program trusts at least one key: packages are then checked
// and refused unless signed by one of them.
bool SignaturesVerifiees();
// True when the package's manifest says it is a demo package (test images,
// never for a real camera), in any build: a program that trusts no key
// still reads the kind (a package signed by the demo key is checked
// against it; any other manifest's word is taken as it is, since a claim
// to be a demo only ever leads to a refusal). Valid after LectureEntete.
bool PackageIsDemo();
// Why the package read by LectureEntete is refused, in `language`: the
// popup's text ("'vers.kq' is not signed: ..."); "" when it may be used.
std::string RefusPackage(int language);
// Logs on `panel` what start-up found of the trust: each key file ignored,
// and, when no key is trusted, that signatures are not checked.
void AnnoncerSignatures(int panel);
// Reads the header line of the package open at `handle` (OpenRegularFile)
// into `line`. Returns its length H, line feed included: where image 0
// begins. 0 when the file's first kHeaderWindow bytes hold no line feed (no
// image can be found in it), -1 when the file cannot be read.
long long LireLigneEntete(int handle, char line[kHeaderWindow]);
// The fields of a header line as written ("1.50" stays "1.50"): blanks,
// tabs and line ends separate them.
std::vector<std::string> ChampsEntete(const char *line, long long length);
// Selects image `index` (0 or 1): sets imageSize and shows the update line in INFO. Returns 0.
int VerifFichier(int index);
// ChecksumFichier's result when vers.kq no longer holds the header read at
// start-up, or, for a verified package, when the image read is not the one
// signed: it was replaced or rewritten while the program ran.
constexpr int kPackageChanged = -2;
// Loads image `index` into a new imageBuffer and stores its checksum, the
// header and the image read through one open of the package.
// Returns 0 when the whole image was read (and, for a verified package,
// matches its signed digest), kPackageChanged when it does not or when the
// file's header is no longer the one read at start-up, -1 otherwise;
// imageChecksum is unchanged unless 0 is returned. Always -1 when the
// header was not read at start-up or the package was refused
// (RefusPackage). Must not be called while a worker may still read the
// buffer.
int ChecksumFichier(int index);
// Bitwise complement of the wrapping 32-bit sum of the bytes, as unsigned.
int32_t Checksum(const uint8_t *data, uint32_t length);
