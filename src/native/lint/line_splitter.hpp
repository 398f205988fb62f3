// Cutting decoded text into the lines that iterating a text file gives:
// at "\n", "\r\n" and a lone "\r", as universal newlines do. The lines go
// to a reader one by one, so that a file's text is never held whole.
// Beside it, what every decoder that feeds it shares: how open() decodes,
// and where decoding first fails.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>

#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

// How open() decodes: asked of the interpreter once per run of the linter.
struct Decoding {
    enum class Kind { utf8, ascii, latin1, other } kind = Kind::utf8;
    std::string name;  // the codec's name, as codecs.lookup() gives it
    size_t chunk_size = 8192;
};

struct DecodeFailure {
    size_t byte_offset = 0;  // of the first byte that does not decode
    unsigned byte = 0;
    std::string reason;           // the codec's words: "invalid start byte"
    size_t line = 0, column = 0;  // 1-based, where that byte sits
    size_t decided_at = 0;        // the byte at which a decoder knows it is bad
};

// What takes the lines, without their line ends.
class LineSink {
public:
    virtual void line(TextView text) = 0;

protected:
    ~LineSink() = default;
};

class LineSplitter {
public:
    explicit LineSplitter(LineSink &out) : out_(out) {}

    void push(char32_t c) {
        if (pending_cr_) {
            pending_cr_ = false;
            end_line();
            if (c == U'\n')
                return;
        }
        if (c == U'\r')
            pending_cr_ = true;
        else if (c == U'\n')
            end_line();
        else
            current_.push_back(c);
    }

    void finish() {
        if (pending_cr_ || !current_.empty())
            end_line();
        pending_cr_ = false;
    }

    // Where the next character goes: a "\r" still waiting has ended its line.
    size_t line() const { return lines_ + (pending_cr_ ? 2 : 1); }
    size_t column() const { return pending_cr_ ? 1 : current_.size() + 1; }

private:
    void end_line() {
        out_.line(current_);
        current_.clear();
        if (current_.capacity() > kKept)  // one long line need not hold the rest's room
            Text().swap(current_);
        ++lines_;
    }

    static constexpr size_t kKept = size_t{1} << 16;

    LineSink &out_;
    Text current_;
    size_t lines_ = 0;
    bool pending_cr_ = false;
};

}  // namespace harborsweep::lint
