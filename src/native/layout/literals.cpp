// Scalar literals. Ints that fit a machine word are written from their
// digits (an int's repr is its plain decimal form) and floats by
// float_literal; larger ints go through the interpreter's own formatting.
#include "layout/literals.hpp"

#include <charconv>

#include "bridge/python_support.hpp"
#include "layout/float_literal.hpp"
#include "layout/text_literal.hpp"

namespace harborsweep {
namespace {

// The decimal form of an int that fits a long long; false otherwise.
bool small_int_digits(nb::handle value, char (&digits)[24], std::size_t &size) {
    int overflow = 0;
    long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow)
        return false;
    if (number == -1 && PyErr_Occurred())
        nb::raise_python_error();
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    size = static_cast<std::size_t>(result.ptr - digits);
    return true;
}

}  // namespace

bool scalar_literal_length(nb::handle value, ValueKind kind, std::uint64_t &length) {
    switch (kind) {
    case ValueKind::none:
        length = 4;
        return true;
    case ValueKind::boolean:
        length = value.ptr() == Py_True ? 4 : 5;
        return true;
    case ValueKind::real: {
        char text[kFloatLiteralSize];
        length = float_literal(PyFloat_AS_DOUBLE(value.ptr()), text);
        return true;
    }
    default:
        break;
    }
    char digits[24];
    std::size_t size = 0;
    if (small_int_digits(value, digits, size)) {
        length = size;
        return true;
    }
    nb::object text = nb::steal(PyObject_Repr(value.ptr()));
    if (!text.is_valid()) {
        if (!PyErr_ExceptionMatches(PyExc_ValueError))
            nb::raise_python_error();
        PyErr_Clear();
        return false;
    }
    length = static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(text.ptr()));
    return true;
}

void write_literal(OutputSink &sink, nb::handle value, ValueKind kind) {
    switch (kind) {
    case ValueKind::none:
        sink.ascii("None");
        return;
    case ValueKind::boolean:
        sink.ascii(value.ptr() == Py_True ? "True" : "False");
        return;
    case ValueKind::real: {
        char text[kFloatLiteralSize];
        sink.ascii(std::string_view(text, float_literal(PyFloat_AS_DOUBLE(value.ptr()), text)));
        return;
    }
    case ValueKind::integer: {
        char digits[24];
        std::size_t size = 0;
        if (small_int_digits(value, digits, size)) {
            sink.ascii(std::string_view(digits, size));
            return;
        }
        break;
    }
    case ValueKind::text:
        write_text_literal(sink, value);
        return;
    default:
        break;
    }
    sink.literal(literal_of(value));
}

}  // namespace harborsweep
