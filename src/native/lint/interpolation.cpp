// BasicInterpolation, step for step: the first mistake met, left to right
// and depth first, is the one get() raises. References are looked up in the
// section, then in [DEFAULT]. Each option's expansion is summed up once
// (its length, the references it follows, its first mistake, how deep its
// references nest) without being built, and a reference costs the summary
// of what it names; only values kept whole are built. The depth limit is
// found from the heights of the summaries: the first reference, left to
// right, that reaches deeper than the limit allows.
#include "lint/interpolation.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "lint/interrupts.hpp"

namespace harborsweep::lint {
namespace {

// Heights are counted to here: past it every depth fails alike.
constexpr uint8_t kDeep = kMaxInterpolationDepth + 1;
// What one get() may cost before the run is taken to fail at it: 4 Gi
// characters is more than it can hold while it sends them, and 16 Mi
// references take it most of a minute (a few microseconds each).
constexpr uint64_t kMostCharacters = uint64_t{1} << 32;
constexpr uint64_t kMostReferences = uint64_t{1} << 24;
constexpr size_t kHead = 8;

uint64_t plus(uint64_t a, uint64_t b) {
    constexpr uint64_t most = uint64_t{1} << 62;
    return a >= most || b >= most - a ? most : a + b;
}

}  // namespace

struct Interpolator::State {
    // A reference that reaches deeper than every one before it in its value,
    // with what the value had produced before it.
    struct Stair {
        const IniOption *child;
        uint8_t height;  // 1 + the child's height
        uint64_t length, references;
    };

    struct Summary {
        Mistake mistake;
        uint64_t length = 0, references = 0;  // up to its mistake, if any
        uint64_t work = 0;                    // characters scanned and copied to build it
        char32_t head[kHead] = {};
        char32_t last = 0;
        uint32_t stairs = 0;  // in State::stairs
        InterpolationError error = InterpolationError::none;  // the first mistake, depth aside
        uint8_t height = 0;  // how deep its references nest below it, counted to kDeep
        uint8_t head_size = 0;
        uint8_t stair_count = 0;
        bool done = false;     // false while it is being worked out
        bool endless = false;  // it reaches a value that refers back to itself

        void literal(TextView text) {
            if (text.empty())
                return;
            length = plus(length, text.size());
            work = plus(work, text.size());
            for (size_t i = 0; i < text.size() && head_size < kHead; ++i)
                head[head_size++] = text[i];
            last = text.back();
        }

        void add(const Summary &child) {
            length = plus(length, child.length);
            references = plus(references, child.references);
            work = plus(work, child.work);
            for (size_t i = 0; i < child.head_size && head_size < kHead; ++i)
                head[head_size++] = child.head[i];
            if (child.last)
                last = child.last;
        }
    };

    // The scan of one value, on the explicit stack that replaces recursion (a
    // chain of references may be as long as the file).
    struct Frame {
        const IniOption *option;
        size_t summary;
        size_t at = 0;               // where the scan goes on
        size_t first_stair;          // its stairs, on State::stair_stack
        const IniOption *awaited = nullptr;  // the reference being worked out
    };

    const IniFile &file;
    const IniSection &section;
    uint64_t &kept;
    uint16_t generation;  // marks the options' summaries as this interpolator's
    std::vector<Summary> summaries;
    std::vector<Stair> stairs;
    std::vector<Stair> stair_stack;
    std::vector<Frame> frames;

    std::optional<size_t> known(const IniOption &option) const {
        if (option.memo_generation != generation)
            return std::nullopt;
        return option.memo;
    }

    void remember(const IniOption &option, size_t at) {
        option.memo = static_cast<uint32_t>(at);
        option.memo_generation = generation;
    }

    const IniOption *lookup(TextView name) const { return file.visible(section, name); }

    // The summary of an option whose value holds a "%".
    size_t summary_of(const IniOption &option) {
        if (const std::optional<size_t> found = known(option))
            return *found;
        const size_t first = open(option);
        while (!frames.empty()) {
            check_interrupts();  // a chain of references may be as long as the file
            step();
        }
        return first;
    }

    size_t open(const IniOption &option) {
        const size_t at = summaries.size();
        summaries.emplace_back();
        remember(option, at);
        frames.push_back(Frame{&option, at, 0, stair_stack.size(), nullptr});
        return at;
    }

    // Goes on with the top frame until it ends or opens another.
    void step() {
        Frame &frame = frames.back();
        Summary &summary = summaries[frame.summary];
        if (frame.awaited) {
            const IniOption *child = frame.awaited;
            frame.awaited = nullptr;
            if (!take_child(summary, *child))
                return close();
        }
        const TextView text = frame.option->value;
        while (frame.at < text.size()) {
            const size_t percent = text.find(U'%', frame.at);
            const size_t end = percent == TextView::npos ? text.size() : percent;
            summary.literal(text.substr(frame.at, end - frame.at));
            if (percent == TextView::npos)
                break;
            summary.work = plus(summary.work, 1);
            const PercentPart part = percent_part(text, percent);
            switch (part.kind) {
            case PercentPart::Kind::escape:
                summary.literal(U"%");
                frame.at = part.end;
                continue;
            case PercentPart::Kind::bad_reference:
                summary.mistake.bad_reference = true;
                [[fallthrough]];
            case PercentPart::Kind::lone:
                return fail(summary, InterpolationError::syntax, *frame.option, percent);
            case PercentPart::Kind::reference:
                break;
            }
            const IniOption *child = lookup(lower(part.name));
            if (!child) {
                summary.mistake.name_length = static_cast<uint32_t>(part.name.size());
                return fail(summary, InterpolationError::missing_option, *frame.option, percent);
            }
            frame.at = part.end;
            summary.references = plus(summary.references, 1);
            if (!child->has_percent) {
                summary.literal(child->value);
                continue;
            }
            if (!known(*child)) {  // worked out first, then this scan goes on
                frame.awaited = child;
                open(*child);
                return;
            }
            if (!take_child(summary, *child))
                return close();
        }
        close();
    }

    // Adds a referenced value's summary; false where the value ends there.
    bool take_child(Summary &summary, const IniOption &child) {
        const Summary &part = summaries[*known(child)];
        const uint8_t height =
            part.done ? static_cast<uint8_t>(std::min<int>(kDeep, part.height + 1)) : kDeep;
        if (height > summary.height) {
            stair_stack.push_back(Stair{&child, height, summary.length, summary.references});
            summary.height = height;
        }
        if (!part.done) {  // a loop: the run goes round it to the depth limit
            summary.endless = true;
            return false;
        }
        summary.add(part);
        if (part.error == InterpolationError::none && !part.endless)
            return true;
        summary.error = part.error;
        summary.mistake = part.mistake;
        summary.endless = part.endless;
        return false;
    }

    void fail(Summary &summary, InterpolationError error, const IniOption &at, size_t offset) {
        summary.error = error;
        summary.mistake.at = &at;
        summary.mistake.offset = static_cast<uint32_t>(offset);
        close();
    }

    void close() {
        Frame frame = frames.back();
        frames.pop_back();
        Summary &summary = summaries[frame.summary];
        summary.done = true;
        summary.stairs = static_cast<uint32_t>(stairs.size());
        summary.stair_count = static_cast<uint8_t>(stair_stack.size() - frame.first_stair);
        stairs.insert(stairs.end(), stair_stack.begin() + static_cast<long>(frame.first_stair),
                      stair_stack.end());
        stair_stack.resize(frame.first_stair);
    }

    // The depth error of a value entered at `depth` that nests too deep:
    // the first reference, left to right, that goes past the limit.
    void find_depth_error(const IniOption &top, Interpolated &result) {
        const IniOption *option = &top;
        uint64_t length = 0, references = 0;
        for (int depth = 1;; ++depth) {
            const Summary &summary = summaries[*known(*option)];
            const Stair *stair = &stairs[summary.stairs];
            while (depth + stair->height <= kMaxInterpolationDepth)
                ++stair;
            length = plus(length, stair->length);
            references = plus(references, stair->references + 1);
            option = stair->child;
            if (depth + 1 > kMaxInterpolationDepth)
                break;
        }
        result.error = InterpolationError::depth;
        result.where.reset(new Mistake{option, 0, 0, false, false});
        result.length = length;
        too_large(result, length, references);
    }

    static void too_large(Interpolated &result, uint64_t length, uint64_t references) {
        if (length <= kMostCharacters && references <= kMostReferences)
            return;
        result.error = InterpolationError::too_large;
        result.where.reset(new Mistake{nullptr, 0, 0, false, references > kMostReferences});
    }

    // Appends the expansion of an option with no mistake in it.
    void build(const IniOption &option, Text &out) {
        const TextView text = option.value;
        for (size_t at = 0; at < text.size();) {
            const size_t percent = text.find(U'%', at);
            const size_t end = percent == TextView::npos ? text.size() : percent;
            out.append(text.substr(at, end - at));
            if (percent == TextView::npos)
                return;
            const PercentPart part = percent_part(text, percent);
            at = part.end;
            if (part.kind == PercentPart::Kind::escape) {
                out += U'%';
                continue;
            }
            const IniOption &child = *lookup(lower(part.name));
            if (!child.has_percent)
                out.append(child.value);
            else if (summaries[*known(child)].length > 0)  // an empty one costs nothing
                build(child, out);
        }
    }

    Interpolated get(const IniOption &option, uint64_t &budget) {
        Interpolated result;
        if (!option.has_percent) {
            result.value = option.value;
            result.length = option.value.size();
            result.last = option.value.empty() ? 0 : option.value.back();
            return result;
        }
        const bool seen = known(option).has_value();
        const size_t at = summary_of(option);
        const Summary &summary = summaries[at];
        if (1 + summary.height > kMaxInterpolationDepth)
            find_depth_error(option, result);
        else
            take(summary, option, budget, result);
        if (!seen && at + 1 == summaries.size()) {  // no other value needs it yet
            stairs.resize(summary.stairs);
            option.memo_generation = 0;
            summaries.pop_back();
        }
        return result;
    }

    void take(const Summary &summary, const IniOption &option, uint64_t &budget,
              Interpolated &result) {
        result.error = summary.error;
        if (summary.error != InterpolationError::none)
            result.where.reset(new Mistake(summary.mistake));
        result.length = summary.length;
        too_large(result, summary.length, summary.references);
        if (result.error != InterpolationError::none)
            return;
        result.last = summary.last;
        Text text;
        if (summary.work <= budget) {
            budget -= summary.work;
            text.reserve(summary.length);
            build(option, text);
        } else {
            result.whole = false;
            text = Text(TextView(summary.head, summary.head_size));
        }
        keep(result, text);
    }

    static void keep(Interpolated &result, const Text &text) {
        result.own.reset(new char32_t[text.size() + 1]);
        std::copy(text.begin(), text.end(), result.own.get());
        result.value = TextView(result.own.get(), text.size());
    }
};

TextView Interpolated::rest() const { return TextView(where->at->value).substr(where->offset); }

Text Interpolated::missing() const {
    // No more of it than a message shows, however long the name.
    const size_t shown = std::min<size_t>(where->name_length, 256);
    return lower(TextView(where->at->value).substr(where->offset + 2, shown));
}

PercentPart percent_part(TextView text, size_t percent) {
    using Kind = PercentPart::Kind;
    const char32_t after = percent + 1 < text.size() ? text[percent + 1] : U'\0';
    if (after == U'%')
        return {Kind::escape, percent + 2, {}};
    if (after != U'(')
        return {Kind::lone, 0, {}};
    const size_t close_at = text.find(U')', percent + 2);
    if (close_at == TextView::npos || close_at == percent + 2 || close_at + 1 >= text.size() ||
        text[close_at + 1] != U's')
        return {Kind::bad_reference, 0, {}};
    return {Kind::reference, close_at + 2, text.substr(percent + 2, close_at - percent - 2)};
}

const char *interpolation_error_class(InterpolationError error) {
    switch (error) {
    case InterpolationError::none:
        return "";
    case InterpolationError::syntax:
        return "InterpolationSyntaxError";
    case InterpolationError::missing_option:
        return "InterpolationMissingOptionError";
    case InterpolationError::depth:
        return "InterpolationDepthError";
    case InterpolationError::too_large:
        return "MemoryError";
    }
    return "";
}

namespace {

// A number no other interpolator of the file now marks summaries with.
uint16_t new_generation(const IniFile &file) {
    if (++file.interpolations == 0) {  // wrapped round: every mark is cleared
        auto clear = [](const IniSection &section) {
            for (const IniOption &option : section.options)
                option.memo_generation = 0;
        };
        clear(file.defaults);
        for (const IniSection &section : file.sections)
            clear(section);
        ++file.interpolations;
    }
    return file.interpolations;
}

}  // namespace

Interpolator::Interpolator(const IniFile &file, const IniSection &section, uint64_t &kept)
    : state_(new State{file, section, kept, new_generation(file), {}, {}, {}, {}}) {}

Interpolator::~Interpolator() = default;

Interpolated Interpolator::get(const IniOption &option) {
    return state_->get(option, state_->kept);
}

Interpolated Interpolator::get_whole(const IniOption &option, uint64_t most) {
    return state_->get(option, most);
}

}  // namespace harborsweep::lint
