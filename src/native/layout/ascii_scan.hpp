// What decides an ASCII text's literal, found eight characters at a time:
// whether any character needs an escape, and how many quotes of each kind
// the text holds. Most texts in a result need no escape at all, and then
// their literal is the text between two quotes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace harborsweep {

struct AsciiTraits {
    bool escapes = false;  // a control character, DEL or a backslash
    std::uint64_t single_quotes = 0;
    std::uint64_t double_quotes = 0;
};

namespace ascii_words {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHigh = 0x8080808080808080ULL;

// For bytes below 0x80 no sum below carries into the next byte, so each
// mask has the high bit of exactly the bytes it names.
inline std::uint64_t equal(std::uint64_t word, unsigned char ch) {
    return ~((word ^ (kOnes * ch)) + kOnes * 0x7f) & kHigh;
}
inline std::uint64_t escaped(std::uint64_t word) {
    std::uint64_t control = ~(word + kOnes * (0x80 - 0x20)) & kHigh;
    std::uint64_t del = (word + kOnes) & kHigh;
    return control | del | equal(word, '\\');
}

}  // namespace ascii_words

// The bytes of chars[at, at + 8), padded with letters past `count`; the
// order of the bytes in the word does not matter to the masks.
inline std::uint64_t load_word(const char *chars, std::size_t at, std::size_t count) {
    using namespace ascii_words;
    std::uint64_t word;
    std::size_t left = count - at;
    if (left >= 8) {
        std::memcpy(&word, chars + at, 8);
        return word;
    }
    constexpr std::uint64_t kLetters = kOnes * 'a';
    if (count >= 8) {  // the last eight bytes, less those already seen
        std::memcpy(&word, chars + count - 8, 8);
        unsigned seen = static_cast<unsigned>(8 - left) * 8;
        if constexpr (std::endian::native == std::endian::little)
            return (word >> seen) | (kLetters << (64 - seen));
        else
            return (word << seen) | (kLetters >> (64 - seen));
    }
    word = kLetters;
    for (std::size_t i = 0; i < left; ++i)
        word = (word << 8) | static_cast<unsigned char>(chars[at + i]);
    return word;
}

// Stops at the first escape: the caller then needs every character's cost.
inline AsciiTraits scan_ascii(const char *chars, std::size_t count) {
    using namespace ascii_words;
    AsciiTraits traits;
    for (std::size_t at = 0; at < count; at += 8) {
        std::uint64_t word = load_word(chars, at, count);
        if (escaped(word)) {
            traits.escapes = true;
            return traits;
        }
        if (std::uint64_t singles = equal(word, '\''))
            traits.single_quotes += static_cast<unsigned>(std::popcount(singles));
        if (std::uint64_t doubles = equal(word, '"'))
            traits.double_quotes += static_cast<unsigned>(std::popcount(doubles));
    }
    return traits;
}

}  // namespace harborsweep
