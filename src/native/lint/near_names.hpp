// The name a mistyped one most likely stands for: the same but for case, or
// a letter or two off, or a beginning of it.
#pragma once

#include <nanobind/nanobind.h>

#include <initializer_list>
#include <optional>
#include <unordered_map>
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

// The names of a long list that near_name() could take for a written one,
// found through their lengths and beginnings rather than by a scan of the
// list: only names of about the same length, or one that begins the other,
// of four letters at least, can be near. For a list asked about many times.
class NearNameIndex {
public:
    // The next name of the list; its position is the count added before it.
    void add(TextView name);

    // The positions of the names that may be near `written`, each once,
    // unless there are more than `budget`: then none, and nothing is spent.
    // Else their count is taken from `budget`, so that all the asks of a
    // list together cost at most the budget they were given and a few
    // look-ups each.
    std::optional<std::vector<size_t>> candidates(TextView written, size_t &budget) const;

private:
    std::unordered_map<size_t, std::vector<size_t>> by_length_;  // the names' folded lengths
    std::unordered_map<Text, std::vector<size_t>> by_start_;  // their first four folded letters
    std::vector<size_t> lengths_;
};

}  // namespace harborsweep::lint
