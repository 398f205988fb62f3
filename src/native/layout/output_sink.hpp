// Buffered output of a layout: pieces gather in one UTF-8 buffer that goes
// out as a str through the target's write() whenever the next piece would
// overflow a chunk, so a large result costs a few hundred calls rather than
// one per token, and the buffer never holds more than one chunk.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include "layout/raw_allocator.hpp"

namespace nb = nanobind;

namespace harborsweep {

class OutputSink {
public:
    static constexpr std::size_t kChunkSize = 32 * 1024;

    // `write` is called with one str per group of pieces; its result is
    // ignored.
    explicit OutputSink(nb::object write) : write_(std::move(write)) {}

    // ASCII text, or whole UTF-8 characters.
    void ascii(std::string_view piece) {
        if (piece.size() > buffer_.size() - used_)
            return spill(piece);
        std::memcpy(buffer_.data() + used_, piece.data(), piece.size());
        used_ += piece.size();
    }
    void ascii(char ch) {
        if (used_ == buffer_.size())
            return spill(std::string_view(&ch, 1));
        buffer_[used_++] = ch;
    }
    // `text` (ASCII) between two `quote`s.
    void quoted(char quote, std::string_view text) {
        if (text.size() + 2 > buffer_.size() - used_) {
            ascii(quote);
            ascii(text);
            return ascii(quote);
        }
        char *out = buffer_.data() + used_;
        out[0] = quote;
        std::memcpy(out + 1, text.data(), text.size());
        out[text.size() + 1] = quote;
        used_ += text.size() + 2;
    }
    // A line end followed by `indent` spaces.
    void line_break(std::size_t indent) {
        if (indent + 1 > buffer_.size() - used_)
            return spill_line_break(indent);
        char *out = buffer_.data() + used_;
        out[0] = '\n';
        std::memset(out + 1, ' ', indent);
        used_ += indent + 1;
    }
    // A literal built by the interpreter (a str object).
    void literal(nb::handle text);
    // Writes whatever is still buffered.
    void finish() { flush(); }

private:
    void spill(std::string_view piece);
    void spill_line_break(std::size_t indent);
    void flush();

    std::vector<char, RawAllocator<char>> buffer_;  // its size is the capacity
    std::size_t used_ = 0;
    nb::object write_;
};

}  // namespace harborsweep
