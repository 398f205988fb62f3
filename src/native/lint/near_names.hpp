// The name a mistyped one most likely stands for: the same but for case, or
// a letter or two off, or a beginning of it.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <vector>

#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

// The candidate closest to `written`, if any is close enough; never one
// equal to it.
std::optional<Text> near_name(TextView written, const std::vector<Text> &candidates);

}  // namespace harborsweep::lint
