// Text from outside the port doctor (process names, USB strings, device and
// file names) made safe to print on the operator's terminal.
#pragma once

#include <string>

// `text` with every byte that a terminal would act on or could not show
// written as a visible escape: control characters (C0, DEL, and the C1
// range U+0080..U+009F, which some terminals obey as ESC sequences) and
// bytes that are not valid UTF-8 become \xHH, one per byte; the characters
// that reorder text on screen (bidirectional marks, embeddings, overrides
// and isolates: U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069)
// become \u{HHHH}; a backslash
// becomes \\ so that an escape cannot be forged. Valid printable UTF-8,
// accented names included, is kept as it is.
std::string visibleText(const std::string &text);
