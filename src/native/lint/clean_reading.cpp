// Reading a value as get() does, without the interpolator's summaries: for
// the few options that a finding's advice suggests, each within a budget of
// steps, so that a costly one is passed over rather than suggested.
#include "lint/clean_reading.hpp"

#include "lint/interpolation.hpp"

namespace harborsweep::lint {
namespace {

// The expansion of get() itself, without summaries, for a few values.
bool reads_within(const IniFile &file, const IniSection &section, const IniOption &option,
                  int depth, size_t &steps) {
    if (depth > kMaxInterpolationDepth)
        return false;
    const TextView text = option.value;
    for (size_t at = 0; at < text.size();) {
        const size_t percent = text.find(U'%', at);
        const size_t end = percent == TextView::npos ? text.size() : percent;
        if (end - at >= steps)
            return false;
        steps -= end - at + 1;
        if (percent == TextView::npos)
            return true;
        const PercentPart part = percent_part(text, percent);
        if (part.kind != PercentPart::Kind::escape && part.kind != PercentPart::Kind::reference)
            return false;
        at = part.end;
        if (part.kind == PercentPart::Kind::escape)
            continue;
        const IniOption *child = file.visible(section, lower(part.name));
        if (!child ||
            (child->has_percent && !reads_within(file, section, *child, depth + 1, steps)))
            return false;
    }
    return true;
}

}  // namespace

bool reads_cleanly(const IniFile &file, const IniSection &section, const IniOption &option,
                   size_t most) {
    return reads_within(file, section, option, 1, most);
}

}  // namespace harborsweep::lint
