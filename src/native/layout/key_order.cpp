// Sorting a dict's keys, and measuring them, for the plan.
#include "layout/key_order.hpp"

#include <algorithm>

#include "layout/page.hpp"
#include "layout/text_literal.hpp"

namespace harborsweep {
namespace {

// Code point order of two exact strs, as str's `<`.
bool key_less(PyObject *a, PyObject *b) {
    if (PyUnicode_KIND(a) == PyUnicode_1BYTE_KIND && PyUnicode_KIND(b) == PyUnicode_1BYTE_KIND) {
        Py_ssize_t size_a = PyUnicode_GET_LENGTH(a);
        Py_ssize_t size_b = PyUnicode_GET_LENGTH(b);
        const auto *chars_a = static_cast<const unsigned char *>(PyUnicode_DATA(a));
        const auto *chars_b = static_cast<const unsigned char *>(PyUnicode_DATA(b));
        Py_ssize_t common = std::min(size_a, size_b);
        for (Py_ssize_t i = 0; i < common; ++i)
            if (chars_a[i] != chars_b[i])
                return chars_a[i] < chars_b[i];
        return size_a < size_b;
    }
    return PyUnicode_Compare(a, b) < 0;
}

bool same_keys(const KeySet &set, const nb::handle *entries, std::size_t count) {
    if (set.keys.size() != count)
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (set.keys[i] != entries[2 * i].ptr())
            return false;
    return true;
}

}  // namespace

KeySet *KeyOrders::find(const nb::handle *entries, std::size_t count) {
    if (count > kMostKeysKept)
        return fill(large_, entries, count) ? &large_ : nullptr;
    auto first = reinterpret_cast<std::uintptr_t>(entries[0].ptr());
    KeySet &set = recent_[(count ^ (first >> 4)) % recent_.size()];
    if (same_keys(set, entries, count))
        return &set;
    set.keys.clear();
    if (!fill(set, entries, count))
        return nullptr;
    for (std::size_t i = 0; i < count; ++i)
        set.keys.push_back(entries[2 * i].ptr());
    return &set;
}

// A key's literal with its ": " is at least four characters longer than its
// text; once that alone passes the cap, no key needs measuring.
bool KeyOrders::fill(KeySet &set, const nb::handle *entries, std::size_t count) {
    std::uint64_t least = 0;
    set.ascii = true;
    set.planned = KeySet::kNotPlanned;
    for (std::size_t i = 0; i < count; ++i) {
        nb::handle key = entries[2 * i];
        if (!PyUnicode_CheckExact(key.ptr()))
            return false;
        ensure_ready(key);
        set.ascii = set.ascii && PyUnicode_IS_ASCII(key.ptr());
        least += static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(key.ptr())) + 4;
    }
    set.length = std::min(least, kLengthCap);
    if (least < kLengthCap) {
        set.length = 0;
        for (std::size_t i = 0; i < count && set.length < kLengthCap; ++i)
            set.length = std::min(set.length + text_literal_length(entries[2 * i]) + 2, kLengthCap);
    }
    set.order.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        set.order[i] = static_cast<std::uint32_t>(i);
    std::sort(set.order.begin(), set.order.end(), [entries](std::uint32_t a, std::uint32_t b) {
        return key_less(entries[2 * a].ptr(), entries[2 * b].ptr());
    });
    return true;
}

}  // namespace harborsweep
