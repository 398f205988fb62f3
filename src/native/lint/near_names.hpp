// The name a mistyped one most likely stands for: the same but for case, or
// a letter or two off, or a beginning of it.
#pragma once

#include <nanobind/nanobind.h>

#include <initializer_list>
#include <optional>
#include <vector>

#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

// The candidate closest to `written`, if any is close enough; never one
// equal to it.
std::optional<Text> near_name(TextView written, const std::vector<Text> &candidates);

// The same over names held elsewhere. `budget`: how many candidates may yet
// be compared; a search that would pass it suggests nothing, so that a file
// of many mistakes and many names stays linear.
// `unwanted`: names never to suggest.
std::optional<Text> near_name(TextView written, const std::vector<TextView> &candidates,
                              size_t &budget, std::initializer_list<TextView> unwanted = {});

// Whether near_name() could take `candidate` for `written`, both folded as
// ascii_lower(strip(name)): only names of about the same length, or one that
// begins the other, of four letters at least, can be near. Cheap, so that it
// can be asked of every name of a long list before the search.
bool may_be_near(TextView written, TextView candidate);

}  // namespace harborsweep::lint
