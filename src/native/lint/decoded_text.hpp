// A check file's text once decoded: its lines, and where decoding failed.
// The line splitter cuts decoded text as text mode's universal newlines do.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <vector>

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
    size_t lines_read_first = 0;  // lines the run gets before the failure
};

struct SourceText {
    std::vector<Text> lines;  // without their line ends
    std::optional<DecodeFailure> failure;
};

// Cuts decoded text at "\n", "\r\n" and a lone "\r", noting the byte that
// ends each line, so that the lines read before a failure can be counted.
class LineSplitter {
public:
    explicit LineSplitter(SourceText &out) : out_(out) {}

    // `last_byte`: the offset of the character's last byte.
    void push(char32_t c, size_t last_byte) {
        if (pending_cr_) {
            pending_cr_ = false;
            if (c == U'\n') {
                end_line(last_byte, false);
                return;
            }
            end_line(cr_byte_, true);
        }
        if (c == U'\r') {
            pending_cr_ = true;
            cr_byte_ = last_byte;
        } else if (c == U'\n') {
            end_line(last_byte, false);
        } else {
            current_.push_back(c);
        }
    }

    void finish() {
        if (pending_cr_)
            end_line(cr_byte_, true);
        pending_cr_ = false;
        if (!current_.empty())
            out_.lines.push_back(std::move(current_));
    }

    size_t line() const { return out_.lines.size() + 1; }
    size_t column() const { return current_.size() + 1; }

    // Lines whose end the file object has decoded when its decoded text
    // stops before byte `decoded_end`; a lone "\r" waits for the character
    // after it.
    size_t lines_ended_before(size_t decoded_end) const {
        size_t count = 0;
        for (const LineEnd &end : ends_) {
            if (end.last_byte >= decoded_end || (end.lone_cr && end.last_byte + 1 >= decoded_end))
                break;
            ++count;
        }
        return count;
    }

private:
    struct LineEnd {
        size_t last_byte;
        bool lone_cr;
    };

    void end_line(size_t last_byte, bool lone_cr) {
        out_.lines.push_back(std::move(current_));
        current_.clear();
        ends_.push_back({last_byte, lone_cr});
    }

    SourceText &out_;
    Text current_;
    std::vector<LineEnd> ends_;
    bool pending_cr_ = false;
    size_t cr_byte_ = 0;
};

}  // namespace harborsweep::lint
