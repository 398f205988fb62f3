// Literal lengths of texts: the cost of each character in a str's repr(),
// from a table for ASCII and from the interpreter's printable-character
// predicate beyond it, so the rules follow the running Python's Unicode data.
#include "text_literal.hpp"

#include <array>

namespace harborsweep {
namespace {

constexpr std::array<std::uint8_t, 128> make_ascii_costs() {
    std::array<std::uint8_t, 128> costs{};
    for (unsigned ch = 0; ch < 128; ++ch)
        costs[ch] = (ch < 0x20 || ch == 0x7f) ? 4 : 1;  // \xhh or itself
    costs['\t'] = costs['\n'] = costs['\r'] = 2;
    costs['\\'] = 2;
    return costs;
}

constexpr std::array<std::uint8_t, 128> kAsciiCosts = make_ascii_costs();

inline unsigned char_cost(Py_UCS4 ch) {
    if (ch < 0x80)
        return kAsciiCosts[ch];
    if (Py_UNICODE_ISPRINTABLE(ch))
        return 1;
    return ch <= 0xff ? 4 : ch <= 0xffff ? 6 : 10;
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

}  // namespace

TextView::TextView(nb::handle text) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(text.ptr()) < 0)
        nb::raise_python_error();
#endif
    kind_ = PyUnicode_KIND(text.ptr());
    data_ = PyUnicode_DATA(text.ptr());
    size_ = PyUnicode_GET_LENGTH(text.ptr());
}

LiteralCost TextView::cost(Py_ssize_t start, Py_ssize_t end) const {
    Py_ssize_t count = end - start;
    switch (kind_) {
    case PyUnicode_1BYTE_KIND:
        return cost_of(static_cast<const Py_UCS1 *>(data_) + start, count);
    case PyUnicode_2BYTE_KIND:
        return cost_of(static_cast<const Py_UCS2 *>(data_) + start, count);
    default:
        return cost_of(static_cast<const Py_UCS4 *>(data_) + start, count);
    }
}

std::uint64_t text_literal_length(nb::handle text) {
    TextView view(text);
    return view.cost(0, view.size()).length();
}

}  // namespace harborsweep
