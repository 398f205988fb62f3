// Text literals. Measuring runs over the str's own storage, per character
// width. Writing builds ASCII literals directly: for ASCII the escapes and
// the printable range are the same in every Python version, and building
// them here spares a str object per literal on large results.
#include "layout/text_literal.hpp"

#include <array>
#include <cstring>

#include "bridge/python_support.hpp"
#include "layout/ascii_scan.hpp"

namespace harborsweep {
namespace {

constexpr std::array<bool, 128> make_plain_ascii() {
    std::array<bool, 128> plain{};
    for (unsigned ch = 0; ch < 128; ++ch)
        plain[ch] = ascii_char_cost(ch) == 1;
    return plain;
}

// ASCII characters that a literal holds as they are (quotes aside).
constexpr std::array<bool, 128> kPlainAscii = make_plain_ascii();

std::uint64_t write_ascii_literal(OutputSink &sink, const char *chars, std::size_t count) {
    AsciiTraits traits = scan_ascii(chars, count);
    bool single = traits.single_quotes != 0;
    bool dbl = traits.double_quotes != 0;
    if (traits.escapes) {  // the scan stopped there
        single = std::memchr(chars, '\'', count) != nullptr;
        dbl = std::memchr(chars, '"', count) != nullptr;
    }
    char quote = single && !dbl ? '"' : '\'';
    std::uint64_t length = 2 + count;
    if (!traits.escapes && !(single && dbl)) {
        sink.quoted(quote, std::string_view(chars, count));
        return length;
    }
    sink.ascii(quote);
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t run = 0;  // start of the characters not yet written
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char ch = static_cast<unsigned char>(chars[i]);
        if (kPlainAscii[ch] && ch != static_cast<unsigned char>(quote))
            continue;
        sink.ascii(std::string_view(chars + run, i - run));
        run = i + 1;
        char escape[4] = {'\\', static_cast<char>(ch), 0, 0};
        std::size_t size = 2;
        if (ch == '\t' || ch == '\n' || ch == '\r') {
            escape[1] = ch == '\t' ? 't' : ch == '\n' ? 'n' : 'r';
        } else if (ch < 0x20 || ch == 0x7f) {
            escape[1] = 'x';
            escape[2] = kHex[ch >> 4];
            escape[3] = kHex[ch & 15];
            size = 4;
        }
        sink.ascii(std::string_view(escape, size));
        length += size - 1;
    }
    sink.ascii(std::string_view(chars + run, count - run));
    sink.ascii(quote);
    return length;
}

}  // namespace

std::uint64_t text_literal_length(nb::handle text) {
    ensure_ready(text);
    PyObject *str = text.ptr();
    const void *data = PyUnicode_DATA(str);
    Py_ssize_t size = PyUnicode_GET_LENGTH(str);
    if (PyUnicode_IS_ASCII(str)) {
        AsciiTraits traits =
            scan_ascii(static_cast<const char *>(data), static_cast<std::size_t>(size));
        if (!traits.escapes)
            return 2 + static_cast<std::uint64_t>(size) +
                   (traits.double_quotes ? traits.single_quotes : 0);
    }
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
        return cost_of(static_cast<const Py_UCS1 *>(data), size).length();
    case PyUnicode_2BYTE_KIND:
        return cost_of(static_cast<const Py_UCS2 *>(data), size).length();
    default:
        return cost_of(static_cast<const Py_UCS4 *>(data), size).length();
    }
}

std::uint64_t write_text_literal(OutputSink &sink, nb::handle text, Py_ssize_t start,
                                 Py_ssize_t end) {
    ensure_ready(text);
    PyObject *str = text.ptr();
    bool whole = start == 0 && end == PyUnicode_GET_LENGTH(str);
    if (PyUnicode_IS_ASCII(str))
        return write_ascii_literal(sink, static_cast<const char *>(PyUnicode_DATA(str)) + start,
                                   static_cast<std::size_t>(end - start));
    nb::object piece = whole ? nb::borrow(text) : nb::steal(PyUnicode_Substring(str, start, end));
    if (!piece.is_valid())
        nb::raise_python_error();
    nb::object literal = literal_of(piece);
    sink.literal(literal);
    return static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(literal.ptr()));
}

}  // namespace harborsweep
