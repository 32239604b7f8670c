// Files and time.
#pragma once

#include <cstddef>
#include <string>

// Directory holding the running executable, without a trailing slash.
// Returns 0, or -1 when it does not fit in `size` bytes.
int GetProjectDir(char *dir, std::size_t size);
// The same, as long as the system lets the path be: 0, or -1 (dir untouched)
// when the executable's place cannot be told.
int GetProjectDir(std::string *dir);
// File name of the running executable ("Quorvel"). The text belongs to the
// layer and stays valid for the whole run.
const char *GetExecutableName();
// Modification date of a file in local time: month 1..12, day 1..31, year
// with four digits. Returns 0, or -1 (values untouched) when the file is
// missing or an output is null.
int GetFileDate(const char *path, int *month, int *day, int *year);
// Size in bytes, or -1 when the file does not exist or is a folder.
long long GetFileSize(const char *path);

// Files read whole by the loader and its tools (the firmware package, the
// images a package is made of). Only a regular file is ever read: a FIFO
// would block the open or the read until some writer came, a terminal until
// someone typed, a device such as /dev/zero would never end, and a folder
// holds no bytes, and merely opening a serial device can raise its control
// lines. The path is opened once without reading rights (O_PATH on Linux,
// attributes only on Windows), its type is checked on that handle, and
// only a regular file is reopened for reading through the handle itself:
// no check of one object then read of another.
// Negative results, each meaning one thing:
constexpr int kFileMissing = -1;     // nothing at the path, or a path the system cannot follow
constexpr int kFileNotRegular = -2;  // a FIFO, device, folder or socket: never opened for reading
constexpr int kFileSystemError = -3; // a regular file the system would not open or read; errno says why

// Opens the regular file at `path` for reading, never blocking and never
// becoming the process's terminal. Returns a handle (>= 0) and stores the
// file's size in *size (when size is not null), or one of the codes above.
// The caller owns the handle and gives it back with CloseFile.
int OpenRegularFile(const char *path, long long *size);
// Reads up to `count` bytes at byte `offset` of the file into `buffer`,
// going on after interrupted or partial reads. Returns the bytes read, fewer
// than `count` only at the end of the file, or kFileSystemError.
long long ReadFileAt(int handle, long long offset, void *buffer, long long count);
// Gives back a handle from OpenRegularFile; a negative handle is ignored.
void CloseFile(int handle);

// Sleeps the calling thread (no event is processed meanwhile); returns at
// once for 0 or less. Accurate to a fraction of a millisecond, without
// spinning, so 0.001 s pauses per received byte stay close to 1 ms.
void Delay(double seconds);
// Sleeps the calling thread until Timer() reaches `timerSeconds`; returns at
// once when it has. Pauses taken to an absolute schedule (a start plus 1 ms
// per byte) keep their sum exact: one pause's overshoot shortens the next.
void DelayUntil(double timerSeconds);
double Timer();  // seconds since an arbitrary fixed point (the first call), monotonic
