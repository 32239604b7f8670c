// The text of the window-less log: what the text box holds, bounded. An
// update writes a few dozen lines, but a camera that babbles (noise on the
// line, a bootloader repeating its banner for minutes) or a front end left
// running for days would otherwise grow the log without end, and every read
// of the log copies it. It keeps the most recent text, dropping the oldest
// whole lines first. Internal to the window-less panel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A whole update logs a few KiB, so an operator never loses a line of it;
// what the bound cuts is a runaway log. Until it is reached the text is
// exactly what was written, byte for byte, as the window's box keeps it.
constexpr std::size_t kLogMaxBytes = 256 * 1024;

class LogText {
public:
    // Appends `text` (UTF-8) at the end. Past kLogMaxBytes the oldest lines
    // go, whole; when the oldest line alone is over the bound, its start goes,
    // never cutting a character. Costs in proportion to `text` (amortised),
    // whatever the log holds.
    void append(std::string_view text);
    // Replaces everything by `text`, within the same bound.
    void reset(std::string_view text);
    // The text kept, in one piece; the view lasts until the next change.
    std::string_view view() const { return std::string_view(buffer_).substr(head_); }
    std::string text() const { return std::string(view()); }
    std::size_t bytes() const { return buffer_.size() - head_; }

private:
    void dropOldest();

    // The kept text is buffer_[head_..]; what lies before head_ is dropped,
    // and cut away only once it is the larger part, so each byte is moved a
    // bounded number of times.
    std::string buffer_;
    std::size_t head_ = 0;
    // Just past the last line feed in buffer_, 0 when there is none: where
    // the open line starts.
    std::size_t openLine_ = 0;
};

} // namespace platform
