// The bounded log text.
#include "log_text.h"

namespace platform {

namespace {

bool continuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

void LogText::append(std::string_view text)
{
    if (text.empty())
        return;
    if (text.size() > kLogMaxBytes) {
        // Only its end can stay: no need to copy the rest first.
        buffer_.clear();
        head_ = 0;
        openLine_ = 0;
        text.remove_prefix(text.size() - kLogMaxBytes - 1);
        // The byte before the kept part still tells whether a line starts there.
    }
    const std::size_t start = buffer_.size();
    buffer_.append(text.data(), text.size());
    const std::size_t lastFeed = text.rfind('\n');
    if (lastFeed != std::string_view::npos)
        openLine_ = start + lastFeed + 1;
    dropOldest();
}

void LogText::reset(std::string_view text)
{
    buffer_.clear();
    head_ = 0;
    openLine_ = 0;
    append(text);
}

void LogText::dropOldest()
{
    if (bytes() > kLogMaxBytes) {
        const std::size_t mustGo = head_ + (bytes() - kLogMaxBytes);  // first byte that may stay
        std::size_t cut = std::string::npos;
        if (mustGo <= openLine_) {
            // The line feed ending the line that holds the last byte that must go;
            // every line feed up to openLine_ lies in closed lines.
            cut = buffer_.find('\n', mustGo - 1) + 1;
        } else {
            // Only the open line remains, and it alone is over the bound.
            cut = mustGo;
            while (cut < buffer_.size() && continuationByte(buffer_[cut]))
                ++cut;
        }
        head_ = cut;
    }
    if (head_ > 4096 && head_ > buffer_.size() / 2) {
        buffer_.erase(0, head_);
        openLine_ = openLine_ > head_ ? openLine_ - head_ : 0;
        head_ = 0;
    }
}

} // namespace platform
