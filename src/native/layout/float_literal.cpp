// repr() of a float is the shortest decimal that reads back as the same
// double, in positional notation when its decimal exponent is from -4 to 15
// and in exponent notation otherwise. The standard
// library's shortest round-trip conversion gives the same digits as the
// interpreter's own (both pick the nearest of the shortest candidates) at a
// small part of its cost, and no allocation; where the library lacks it, the
// interpreter's conversion is used.
#include "layout/float_literal.hpp"

#include <nanobind/nanobind.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace nb = nanobind;

#if defined(__cpp_lib_to_chars) || \
    (defined(_LIBCPP_VERSION) && _LIBCPP_VERSION >= 14000 && !defined(__APPLE__))
#define HARBORSWEEP_SHORTEST_TO_CHARS 1
#endif

namespace harborsweep {
namespace {

#ifdef HARBORSWEEP_SHORTEST_TO_CHARS

std::size_t copy_text(const char *text, char (&out)[kFloatLiteralSize]) {
    std::size_t size = std::strlen(text);
    std::memcpy(out, text, size);
    return size;
}

// Rewrites the digits of `value` in positional notation, with ".0" where
// there is no fractional part. `decimal_point` counts the digits before the
// point (zero or less: that many zeros after "0.").
std::size_t positional(bool negative, const char *digits, std::size_t count, int decimal_point,
                       char (&out)[kFloatLiteralSize]) {
    std::size_t at = 0;
    if (negative)
        out[at++] = '-';
    if (decimal_point <= 0) {
        out[at++] = '0';
        out[at++] = '.';
        for (int i = decimal_point; i < 0; ++i)
            out[at++] = '0';
        std::memcpy(out + at, digits, count);
        return at + count;
    }
    auto whole = static_cast<std::size_t>(decimal_point);
    if (whole >= count) {
        std::memcpy(out + at, digits, count);
        at += count;
        for (std::size_t i = count; i < whole; ++i)
            out[at++] = '0';
        out[at++] = '.';
        out[at++] = '0';
        return at;
    }
    std::memcpy(out + at, digits, whole);
    at += whole;
    out[at++] = '.';
    std::memcpy(out + at, digits + whole, count - whole);
    return at + count - whole;
}

#endif

}  // namespace

#ifdef HARBORSWEEP_SHORTEST_TO_CHARS

std::size_t float_literal(double value, char (&out)[kFloatLiteralSize]) {
    if (std::isnan(value))
        return copy_text("nan", out);
    if (std::isinf(value))
        return copy_text(value < 0 ? "-inf" : "inf", out);
    // "[-]d[.ddd]e(+|-)dd[d]", the exponent in at least two digits, as
    // repr() writes its exponent notation.
    char scientific[kFloatLiteralSize];
    auto result = std::to_chars(scientific, scientific + sizeof scientific, value,
                                std::chars_format::scientific);
    auto size = static_cast<std::size_t>(result.ptr - scientific);
    const char *exponent_mark = static_cast<const char *>(std::memchr(scientific, 'e', size));
    int exponent = 0;
    std::from_chars(exponent_mark + (exponent_mark[1] == '+' ? 2 : 1), result.ptr, exponent);
    if (exponent < -4 || exponent >= 16) {
        std::memcpy(out, scientific, size);
        return size;
    }
    bool negative = scientific[0] == '-';
    char digits[kFloatLiteralSize];
    std::size_t count = 0;
    for (const char *at = scientific + negative; at != exponent_mark; ++at)
        if (*at != '.')
            digits[count++] = *at;
    return positional(negative, digits, count, exponent + 1, out);
}

#else

std::size_t float_literal(double value, char (&out)[kFloatLiteralSize]) {
    char *text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text)
        nb::raise_python_error();
    std::size_t size = std::strlen(text);
    std::memcpy(out, text, size);
    PyMem_Free(text);
    return size;
}

#endif

}  // namespace harborsweep
