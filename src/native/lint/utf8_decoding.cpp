// UTF-8 with CPython's rules: which sequences are errors, which maximal part
// one replacement character stands for, and the byte at which an
// incremental decoder first knows a sequence is bad.
#include "lint/utf8_decoding.hpp"

namespace harborsweep::lint {
namespace {

struct Utf8Step {
    char32_t code_point = 0;
    size_t length = 1;  // bytes taken (the maximal part replaced, on error)
    const char *reason = nullptr;
    size_t decided_at = 0;  // the byte that shows the sequence is bad
};

struct LeadRule {
    size_t need;  // continuation bytes
    unsigned char low, high;  // the range of the first of them
};

// What follows a lead byte; need 0 for a byte that starts nothing.
LeadRule lead_rule(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return {1, 0x80, 0xBF};
    if (lead >= 0xE0 && lead <= 0xEF)
        return {2, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
    if (lead >= 0xF0 && lead <= 0xF4)
        return {3, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
    return {0, 0, 0};
}

Utf8Step utf8_step(const std::string &bytes, size_t i) {
    const size_t n = bytes.size();
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80)
        return {lead, 1, nullptr, 0};
    const LeadRule rule = lead_rule(lead);
    if (rule.need == 0)
        return {0xFFFD, 1, "invalid start byte", i};
    char32_t code_point = lead & (0x3F >> rule.need);
    for (size_t k = 1; k <= rule.need; ++k) {
        if (i + k >= n)
            return {0xFFFD, k, "unexpected end of data", n};
        const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
        const unsigned char low = k == 1 ? rule.low : 0x80, high = k == 1 ? rule.high : 0xBF;
        if (next < low || next > high)
            return {0xFFFD, k, "invalid continuation byte", i + k};
        code_point = (code_point << 6) | (next & 0x3F);
    }
    return {code_point, rule.need + 1, nullptr, 0};
}

}  // namespace

size_t utf8_continuations(unsigned char lead) { return lead_rule(lead).need; }

std::optional<DecodeFailure> decode_utf8(const std::string &bytes, LineSink &sink) {
    LineSplitter lines(sink);
    std::optional<DecodeFailure> failure;
    for (size_t i = 0; i < bytes.size();) {
        const Utf8Step step = utf8_step(bytes, i);
        if (step.reason && !failure)
            failure = DecodeFailure{i,
                                    static_cast<unsigned char>(bytes[i]),
                                    step.reason,
                                    lines.line(),
                                    lines.column(),
                                    step.decided_at};
        lines.push(step.code_point);
        i += step.length;
    }
    lines.finish();
    return failure;
}

std::optional<DecodeFailure> decode_single_byte(const std::string &bytes, bool ascii,
                                                LineSink &sink) {
    LineSplitter lines(sink);
    std::optional<DecodeFailure> failure;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        const bool bad = ascii && byte >= 0x80;
        if (bad && !failure)
            failure = DecodeFailure{
                i, byte, "ordinal not in range(128)", lines.line(), lines.column(), i};
        lines.push(bad ? 0xFFFD : byte);
    }
    lines.finish();
    return failure;
}

}  // namespace harborsweep::lint
