// The image checksum: the bitwise complement of the wrapping 32-bit sum of
// the image's bytes taken as unsigned. Checksum itself is declared with the
// package (package.h); this is the plain one-byte-at-a-time sum beside it.
#pragma once

#include <cstdint>

// The same value as Checksum, summed one byte at a time. What other
// architectures run, and the reference the fast sum is tested against.
int32_t ChecksumOctetParOctet(const uint8_t *data, uint32_t length);
