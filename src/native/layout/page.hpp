// The page that results are laid out on. The plan, the key orders and the
// layout all measure against it, so it sits below each of them.
#pragma once

#include <cstdint>

namespace harborsweep {

inline constexpr std::int64_t kPageWidth = 200;

// Lengths are kept only up to this cap: a literal longer than the page
// breaks wherever it starts, so beyond the cap the exact length never matters.
inline constexpr std::uint64_t kLengthCap = 255;

}  // namespace harborsweep
