// An allocator for the layout engine's large working arrays that draws from
// the interpreter's raw memory domain, so tracemalloc and the interpreter's
// own accounting see what a layout costs.
#pragma once

#include <Python.h>

#include <cstddef>
#include <new>

namespace harborsweep {

template <typename T>
struct RawAllocator {
    using value_type = T;

    RawAllocator() noexcept = default;
    template <typename U>
    RawAllocator(const RawAllocator<U> &) noexcept {}

    T *allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(T))
            throw std::bad_alloc();
        void *memory = PyMem_RawMalloc(count * sizeof(T));
        if (!memory)
            throw std::bad_alloc();
        return static_cast<T *>(memory);
    }
    void deallocate(T *memory, std::size_t) noexcept { PyMem_RawFree(memory); }

    template <typename U>
    bool operator==(const RawAllocator<U> &) const noexcept {
        return true;
    }
};

}  // namespace harborsweep
