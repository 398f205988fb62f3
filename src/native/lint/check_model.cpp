// What the run takes from a check file, worked out as the run works it out:
// get("default", "description"), get("default", "filters") split at ","
// and stripped, and options("quorvane") with get() of each, the last value
// that reads "output(...)" being the reference followed.
#include "lint/check_model.hpp"

#include "lint/ini_reader.hpp"
#include "lint/interrupts.hpp"

namespace harborsweep::lint {
namespace {

std::optional<Interpolated> read_default(const CheckModel &check, Interpolator &values,
                                         const char *name, uint64_t most) {
    const Text key = from_ascii(name);
    const IniOption *option = check.ini.visible(*check.default_section, key);
    if (!option)
        return std::nullopt;
    return values.get_whole(*option, most);
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

bool is_reference(const Interpolated &value) {
    return value.error == InterpolationError::none && value.length >= 8 &&
           starts_with(value.value, "output(") && value.last == U')';
}

void model_fields(CheckModel &check, uint64_t &kept, uint64_t most) {
    const IniSection &section = *check.quorvane;
    Interpolator values(check.ini, section, kept);
    check.fields.reserve(section.options.size() + check.ini.defaults.options.size());
    for (const IniOption &option : section.options) {
        check_interrupts();
        check.fields.push_back({&option, values.get(option), false, false});
    }
    for (const IniOption &option : check.ini.defaults.options)
        if (!section.find(option.name))
            check.fields.push_back({&option, values.get(option), true, false});
    std::optional<size_t> last;
    for (size_t i = 0; i < check.fields.size(); ++i)
        if (is_reference(check.fields[i].value)) {
            check.fields[i].is_reference = true;
            last = i;
        }
    if (!last)
        return;
    // The reference followed is built whole, whatever the budget left.
    RequestField &field = check.fields[*last];
    if (!field.value.whole)
        field.value = values.get_whole(*field.option, most);
    const TextView value = field.value.value;
    Text name(value.substr(7, value.size() - 8));
    std::string target = join_path(check.config_dir, to_fs_bytes(name));
    check.reference = OutputReference{*last, std::move(name), std::move(target)};
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
    check.too_large = file.too_large;
    if (!check.readable())
        return check;
    check.ini = read_ini(file.bytes, decoding);
    check.decode_failure = check.ini.decode_failure;
    const size_t size = file.bytes.size();
    std::string().swap(file.bytes);
    check.default_section = check.ini.section(from_ascii("default"));
    check.quorvane = check.ini.section(from_ascii("quorvane"));
    uint64_t kept = kept_for_file(size);
    const uint64_t most = kept_for_file(size);
    if (check.default_section) {
        Interpolator values(check.ini, *check.default_section, kept);
        check.description = read_default(check, values, "description", most);
        check.filters = read_default(check, values, "filters", most);
    }
    if (check.filters && check.filters->error == InterpolationError::none)
        check.filter_steps = split_filters(check.filters->value);
    if (check.quorvane)
        model_fields(check, kept, most);
    return check;
}

}  // namespace harborsweep::lint
