// Text literals: their lengths, worked out from the characters without
// building the literal, and writing them. Both follow the quoting, escapes
// and printable-character table of the interpreter's repr() of a str.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

#include "layout/output_sink.hpp"

namespace nb = nanobind;

namespace harborsweep {

// What decides the length of a text's literal. Quotes count one character
// each in `body`; the literal escapes single quotes only when the text holds
// both kinds, so the length is only known for a whole piece.
struct LiteralCost {
    std::uint64_t body = 0;
    std::uint64_t single_quotes = 0;
    std::uint64_t double_quotes = 0;

    void add(const LiteralCost &other) {
        body += other.body;
        single_quotes += other.single_quotes;
        double_quotes += other.double_quotes;
    }
    bool empty() const { return body == 0; }
    std::uint64_t length() const {
        return 2 + body + (single_quotes && double_quotes ? single_quotes : 0);
    }
};

// Characters that a literal writes as they are, for ASCII; the rest are
// escaped. Beyond ASCII the interpreter's printable table decides.
constexpr unsigned ascii_char_cost(unsigned ch) {
    if (ch >= 0x20 && ch < 0x7f)
        return ch == '\\' ? 2 : 1;
    return (ch == '\t' || ch == '\n' || ch == '\r') ? 2 : 4;
}

inline unsigned char_cost(Py_UCS4 ch) {
    if (ch < 0x80)
        return ascii_char_cost(ch);
    if (Py_UNICODE_ISPRINTABLE(ch))
        return 1;
    return ch <= 0xff ? 4 : ch <= 0xffff ? 6 : 10;
}

// The longest that one character of a str of this kind can take in a
// literal: \xhh, \uhhhh, \Uhhhhhhhh.
inline Py_ssize_t longest_escape(int kind) {
    return kind == PyUnicode_1BYTE_KIND ? 4 : kind == PyUnicode_2BYTE_KIND ? 6 : 10;
}

template <typename Char>
LiteralCost cost_of(const Char *chars, Py_ssize_t count) {
    LiteralCost cost;
    for (Py_ssize_t i = 0; i < count; ++i) {
        Py_UCS4 ch = chars[i];
        cost.body += char_cost(ch);
        cost.single_quotes += ch == '\'';
        cost.double_quotes += ch == '"';
    }
    return cost;
}

// Makes sure a str's characters can be read directly (legacy strs of old
// versions are built on first use).
inline void ensure_ready(nb::handle text) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(text.ptr()) < 0)
        nb::raise_python_error();
#else
    (void)text;
#endif
}

// len(repr(text)) for an exact str.
std::uint64_t text_literal_length(nb::handle text);

// Writes repr(text[start:end]) and returns its length in characters. ASCII
// text is escaped here (its escapes are fixed); other text goes through the
// interpreter's repr().
std::uint64_t write_text_literal(OutputSink &sink, nb::handle text, Py_ssize_t start,
                                 Py_ssize_t end);

inline std::uint64_t write_text_literal(OutputSink &sink, nb::handle text) {
    return write_text_literal(sink, text, 0, PyUnicode_GET_LENGTH(text.ptr()));
}

}  // namespace harborsweep
