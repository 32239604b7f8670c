// Numbers as the package file and the panel write them: decimal point,
// never the desktop's decimal comma, whatever the process's locale.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `value` with exactly `decimals` decimals ("1.500") and a
// terminator into `out`. Returns the length written, or -1 (and "" when
// size > 0) when it does not fit.
int FormatFixe(char *out, std::size_t size, double value, int decimals);

// The header numbers are read as words: after any spaces and tabs at `p`, a
// number runs to the next space, tab, carriage return or line feed, or to
// `end`, and is taken only when all of it is the number, however many
// characters it has. So "1000x", "2.05-7" or "1,5" are no numbers, and no
// value is ever taken from the first part of a longer word. On success the
// value is stored, `p` moves past the word and true is returned; otherwise
// both are left alone.

// A decimal real ("1.5", "2.05", "1e3", ".5", an optional sign), finite and
// not so small that it would read as 0.
bool LireReel(const char *&p, const char *end, double *out);
// A decimal integer (optional sign) that fits in 32 bits signed; a value
// outside is refused, never wrapped.
bool LireEntier32(const char *&p, const char *end, int32_t *out);
