// Float literals, formed without a Python call: the digits and the notation
// of repr() of a float, into a buffer on the caller's stack.
#pragma once

#include <Python.h>

#include <cstddef>

namespace harborsweep {

// Room for the longest literal ("-2.2250738585072014e-308" and the like).
inline constexpr std::size_t kFloatLiteralSize = 32;

// Writes repr(value) into `out` and returns its length.
std::size_t float_literal(double value, char (&out)[kFloatLiteralSize]);

}  // namespace harborsweep
