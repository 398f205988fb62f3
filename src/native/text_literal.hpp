// Lengths of text literals, worked out from the characters without building
// the literal: the same quoting, escapes and printable-character table that
// the interpreter's repr() of a str uses.
#pragma once

#include <cstdint>

#include <nanobind/nanobind.h>

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

// Read access to the characters of a ready str object, whatever its kind.
class TextView {
public:
    explicit TextView(nb::handle text);
    Py_ssize_t size() const { return size_; }
    Py_UCS4 at(Py_ssize_t index) const { return PyUnicode_READ(kind_, data_, index); }
    LiteralCost cost(Py_ssize_t start, Py_ssize_t end) const;

private:
    int kind_;
    const void *data_;
    Py_ssize_t size_;
};

// len(repr(text)) for an exact str.
std::uint64_t text_literal_length(nb::handle text);

}  // namespace harborsweep
