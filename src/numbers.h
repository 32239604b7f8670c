// Numbers as the package file and the panel write them: decimal point,
// never the desktop's decimal comma, whatever the process's locale.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `value` with exactly `decimals` decimals ("1.500") and a
// terminator into `out`. Returns the length written, or -1 (and "" when
// size > 0) when it does not fit.
int FormatFixe(char *out, std::size_t size, double value, int decimals);

// Reads a decimal real ("1.5", "2.05", "1e3", an optional leading '+')
// at `p`, after any spaces and tabs. On success stores it, moves `p`
// past it and returns true; otherwise leaves both alone.
bool LireReel(const char *&p, double *out);

// Reads a decimal integer that fits in 32 bits signed, as LireReel.
// A value outside 32 bits is refused, never wrapped.
bool LireEntier32(const char *&p, int32_t *out);
