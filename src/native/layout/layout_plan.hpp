// The first pass over a result: decides whether the native layout covers it
// and measures every container's one-line literal once, so that laying out
// costs time in proportion to the value's size whatever its depth.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "layout/page.hpp"
#include "layout/raw_allocator.hpp"

namespace nb = nanobind;

namespace harborsweep {

using ObjectStack = std::vector<nb::object, RawAllocator<nb::object>>;

struct LayoutPlan {
    // One-line literal length of each non-empty container, capped, in the
    // order in which the layout meets the containers.
    std::vector<std::uint8_t, RawAllocator<std::uint8_t>> widths;
    // Insertion positions of a dict's entries in ascending key order, one
    // run per set of keys: dicts that share their keys share one run.
    std::vector<std::uint32_t, RawAllocator<std::uint32_t>> orders;
    // For each dict of two or more entries, in the same order as `widths`:
    // where its run in `orders` starts.
    std::vector<std::uint32_t, RawAllocator<std::uint32_t>> order_starts;
    // Deepest nesting of containers; 0 for a lone scalar or text.
    std::size_t depth = 0;
    // Whether every text, keys included, is ASCII, and so the whole output.
    bool ascii = true;
};

// Plans the layout of `value`. False when the native layout does not cover
// it: a type other than exact dict, list, str, int, float, bool and None, a
// key that is not an exact str, a container inside itself, or an int that
// the interpreter refuses to write.
bool plan_layout(nb::handle value, LayoutPlan &plan);

// Appends the dict's keys and values, alternating, in insertion order.
void collect_entries(nb::handle dict, ObjectStack &entries);

}  // namespace harborsweep
