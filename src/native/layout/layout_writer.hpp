// The second pass: lays a planned result out into an output sink, line by
// line as the standard pretty printer (width 200, indent 1, sorted keys)
// lays it out.
#pragma once

#include <nanobind/nanobind.h>

#include "layout/layout_plan.hpp"
#include "layout/output_sink.hpp"

namespace nb = nanobind;

namespace harborsweep {

// Writes the layout of `value`, without the final line end. `plan` must come
// from plan_layout() on the same value; if the value changed since (a
// write() that alters the result it is writing), RuntimeError.
void write_layout(nb::handle value, const LayoutPlan &plan, OutputSink &sink);

}  // namespace harborsweep
