// BasicInterpolation, step for step: the first mistake met, left to right
// and depth first, is the one get() raises. References are looked up in the
// section, then in [DEFAULT]. A value whose references multiply beyond any
// sensible size is given up on rather than expanded.
#include "lint/interpolation.hpp"

namespace harborsweep::lint {
namespace {

constexpr int kMaxDepth = 10;

class Interpolation {
public:
    Interpolation(const IniFile &file, const IniSection &section, ExpansionBudget &budget)
        : file_(file), section_(section), budget_(budget) {}

    Interpolated run(const IniOption &option) {
        if (budget_.left == 0) {
            result_.error = InterpolationError::too_large;
            result_.unchecked = true;
            return std::move(result_);
        }
        if (!expand(option.name, option.value, 1))
            Text().swap(result_.value);  // a value that fails is not kept
        return std::move(result_);
    }

private:
    const IniOption *lookup(const Text &name) const {
        if (const IniOption *own = section_.find(name))
            return own;
        return &section_ == &file_.defaults ? nullptr : file_.defaults.find(name);
    }

    bool fail(InterpolationError error, const Text &at, TextView text, size_t offset) {
        result_.error = error;
        result_.at = at;
        result_.at_value = Text(text);
        result_.offset = offset;
        return false;
    }

    bool charge(size_t amount) {
        if (amount + 1 <= budget_.left) {
            budget_.left -= amount + 1;
            return true;
        }
        budget_.left = 0;
        return fail(InterpolationError::too_large, Text(), TextView(), 0);
    }

    // `owner`: whose value `text` is, for naming where a mistake lies.
    bool expand(const Text &owner, TextView text, int depth) {
        if (depth > kMaxDepth)
            return fail(InterpolationError::depth, owner, text, 0);
        size_t at = 0;
        while (at < text.size()) {
            const size_t percent = text.find(U'%', at);
            const size_t end = percent == TextView::npos ? text.size() : percent;
            if (!charge(end - at))
                return false;
            result_.value.append(text.substr(at, end - at));
            if (percent == TextView::npos)
                return true;
            if (!follow(owner, text, percent, depth, at))
                return false;
        }
        return true;
    }

    // The "%" at `percent`: sets `next` past what it stands for.
    bool follow(const Text &owner, TextView text, size_t percent, int depth, size_t &next) {
        const char32_t after = percent + 1 < text.size() ? text[percent + 1] : U'\0';
        if (after == U'%') {
            result_.value += U'%';
            next = percent + 2;
            return true;
        }
        if (after != U'(') {
            result_.rest = Text(text.substr(percent));
            return fail(InterpolationError::syntax, owner, text, percent);
        }
        const size_t close = text.find(U')', percent + 2);
        if (close == TextView::npos || close == percent + 2 || close + 1 >= text.size() ||
            text[close + 1] != U's') {
            result_.rest = Text(text.substr(percent));
            result_.bad_reference = true;
            return fail(InterpolationError::syntax, owner, text, percent);
        }
        const Text name = lower(text.substr(percent + 2, close - percent - 2));
        next = close + 2;
        const IniOption *target = lookup(name);
        if (target == nullptr) {
            result_.missing = name;
            return fail(InterpolationError::missing_option, owner, text, percent);
        }
        if (target->value.find(U'%') == Text::npos)
            return charge(target->value.size()) && (result_.value += target->value, true);
        return charge(0) && expand(target->name, target->value, depth + 1);
    }

    const IniFile &file_;
    const IniSection &section_;
    ExpansionBudget &budget_;
    Interpolated result_;
};

}  // namespace

const char *python_class_of(InterpolationError error) {
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

Interpolated interpolate(const IniFile &file, const IniSection &section, const IniOption &option,
                         ExpansionBudget &budget) {
    return Interpolation(file, section, budget).run(option);
}

}  // namespace harborsweep::lint
