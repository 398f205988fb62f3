// What the run takes from a check file, worked out as the run works it out:
// get("default", "description"), get("default", "filters") split at ","
// and stripped, and options("quorvane") with get() of each, the last value
// that reads "output(...)" being the reference followed.
#include "lint/check_model.hpp"

#include "lint/ini_reader.hpp"
#include "lint/interrupts.hpp"
#include "lint/source_text.hpp"

namespace harborsweep::lint {
namespace {

std::optional<Interpolated> read_default(const CheckModel &check, const char *name,
                                         ExpansionBudget &budget) {
    if (!check.default_section)
        return std::nullopt;
    const Text key = from_ascii(name);
    const IniOption *option = check.default_section->find(key);
    if (!option)
        option = check.ini.defaults.find(key);
    if (!option)
        return std::nullopt;
    return interpolate(check.ini, *check.default_section, *option, budget);
}

std::vector<Text> split_filters(TextView value) {
    std::vector<Text> steps;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(U',', start);
        const size_t end = comma == TextView::npos ? value.size() : comma;
        steps.emplace_back(strip(value.substr(start, end - start)));
        if (comma == TextView::npos)
            return steps;
        start = comma + 1;
    }
}

void model_fields(CheckModel &check, ExpansionBudget &budget) {
    const IniSection &section = *check.quorvane;
    for (const IniOption &option : section.options) {
        check_interrupts();
        check.fields.push_back(
            {&option, interpolate(check.ini, section, option, budget), false, false});
    }
    for (const IniOption &option : check.ini.defaults.options)
        if (!section.find(option.name))
            check.fields.push_back(
                {&option, interpolate(check.ini, section, option, budget), true, false});
    for (size_t i = 0; i < check.fields.size(); ++i) {
        RequestField &field = check.fields[i];
        if (field.value.error != InterpolationError::none ||
            !is_output_reference(field.value.value))
            continue;
        field.is_reference = true;
        const TextView value = field.value.value;
        Text name(value.substr(7, value.size() - 8));
        std::string target = join_path(check.config_dir, to_fs_bytes(name));
        check.reference = OutputReference{i, std::move(name), std::move(target)};
    }
}

}  // namespace

bool is_output_reference(TextView value) {
    return starts_with(value, "output(") && ends_with(value, ")");
}

CheckModel model_check(const std::string &path, const std::string &config_dir,
                       const Decoding &decoding) {
    CheckModel check;
    check.path = path;
    check.config_dir = config_dir;
    FileBytes file = read_file_bytes(path);
    check.read_failure = std::move(file.failure);
    check.not_regular = file.not_regular;
    if (!check.readable())
        return check;
    SourceText source = decode_source(file.bytes, decoding);
    check.decode_failure = source.failure;
    check.ini = read_ini(source);
    check.default_section = check.ini.section(from_ascii("default"));
    check.quorvane = check.ini.section(from_ascii("quorvane"));
    ExpansionBudget budget = ExpansionBudget::for_file(file.bytes.size());
    check.description = read_default(check, "description", budget);
    check.filters = read_default(check, "filters", budget);
    if (check.filters && check.filters->error == InterpolationError::none)
        check.filter_steps = split_filters(check.filters->value);
    if (check.quorvane)
        model_fields(check, budget);
    return check;
}

}  // namespace harborsweep::lint
