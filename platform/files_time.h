// Files and time.
#pragma once

#include <cstddef>

// Directory holding the running executable, without a trailing slash.
// Returns 0, or -1 when it does not fit in `size` bytes.
int GetProjectDir(char *dir, std::size_t size);
// File name of the running executable ("Quorvel"). The text belongs to the
// layer and stays valid for the whole run.
const char *GetExecutableName();
// Modification date of a file in local time: month 1..12, day 1..31, year
// with four digits. Returns 0, or -1 (values untouched) when the file is
// missing or an output is null.
int GetFileDate(const char *path, int *month, int *day, int *year);
// Size in bytes, or -1 when the file does not exist or is a folder.
long long GetFileSize(const char *path);

// Sleeps the calling thread (no event is processed meanwhile); returns at
// once for 0 or less. Accurate to a fraction of a millisecond, without
// spinning, so 0.001 s pauses per received byte stay close to 1 ms.
void Delay(double seconds);
// Sleeps the calling thread until Timer() reaches `timerSeconds`; returns at
// once when it has. Pauses taken to an absolute schedule (a start plus 1 ms
// per byte) keep their sum exact: one pause's overshoot shortens the next.
void DelayUntil(double timerSeconds);
double Timer();  // seconds since an arbitrary fixed point (the first call), monotonic
