// One-line literals of the plain values a check returns: which kind a value
// is (exact built-in types only), how long its literal is, and writing it.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

#include "layout/output_sink.hpp"

namespace nb = nanobind;

namespace harborsweep {

enum class ValueKind : std::uint8_t { none, boolean, integer, real, text, list, dict, other };

// Subclasses count as `other`: they may lay themselves out differently.
// Asked of every item of a result, by the plan and by the layout alike.
inline ValueKind kind_of(nb::handle value) {
    PyObject *object = value.ptr();
    if (PyUnicode_CheckExact(object))
        return ValueKind::text;
    if (PyDict_CheckExact(object))
        return ValueKind::dict;
    if (PyList_CheckExact(object))
        return ValueKind::list;
    if (PyLong_CheckExact(object))
        return ValueKind::integer;
    if (PyFloat_CheckExact(object))
        return ValueKind::real;
    if (PyBool_Check(object))  // bool cannot be subclassed
        return ValueKind::boolean;
    if (object == Py_None)
        return ValueKind::none;
    return ValueKind::other;
}

// Length of the literal of a None, bool, int or float. False when the
// interpreter refuses to write the value (an int with more digits than
// sys.set_int_max_str_digits allows); no error is left set then.
bool scalar_literal_length(nb::handle value, ValueKind kind, std::uint64_t &length);

// Writes the one-line literal of a None, bool, int, float or str.
void write_literal(OutputSink &sink, nb::handle value, ValueKind kind);

}  // namespace harborsweep
