// The sorted order of a dict's keys and the length of their literals,
// worked out once for each set of keys: the records of a result mostly share
// their keys (a JSON decoder hands out one str per distinct key), so most
// dicts are only compared, key by key, with one seen before.
#pragma once

#include <nanobind/nanobind.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "layout/raw_allocator.hpp"

namespace nb = nanobind;

namespace harborsweep {

struct KeySet {
    // The keys in insertion order; kept only for sets small enough to reuse.
    std::vector<PyObject *, RawAllocator<PyObject *>> keys;
    // Insertion positions in ascending key order (str keys compare by code
    // point).
    std::vector<std::uint32_t, RawAllocator<std::uint32_t>> order;
    // The keys' literals, each with its ": ", capped at the plan's cap.
    std::uint64_t length = 0;
    bool ascii = true;
    // Where the plan keeps `order`, once it does.
    static constexpr std::size_t kNotPlanned = SIZE_MAX;
    std::size_t planned = kNotPlanned;
};

// Valid for one planning pass only: it tells keys apart by identity, which
// holds while no object is freed, and the plan runs no Python code.
class KeyOrders {
public:
    // The key set of the dict whose keys and values, alternating in
    // insertion order, are `entries`; null when a key is not an exact str.
    KeySet *find(const nb::handle *entries, std::size_t count);

private:
    static constexpr std::size_t kMostKeysKept = 64;
    bool fill(KeySet &set, const nb::handle *entries, std::size_t count);

    std::array<KeySet, 8> recent_;
    KeySet large_;
};

}  // namespace harborsweep
