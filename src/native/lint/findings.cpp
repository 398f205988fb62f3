// The table of codes: each code's text and severity. An error is a mistake
// that ends the run at that check; a warning one that the run goes past,
// doing something other than the file seems to say.
#include "lint/findings.hpp"

#include <algorithm>
#include <string_view>

namespace harborsweep::lint {

CodeInfo info(Code code) {
    constexpr Severity E = Severity::error, W = Severity::warning;
    switch (code) {
    case Code::unreadable:
        return {"HS101", E};
    case Code::undecodable:
        return {"HS102", E};
    case Code::byte_order_mark:
        return {"HS103", E};
    case Code::missing_header:
        return {"HS104", E};
    case Code::duplicate_section:
        return {"HS105", E};
    case Code::duplicate_option:
        return {"HS106", E};
    case Code::no_delimiter:
        return {"HS107", E};
    case Code::empty_option_name:
        return {"HS108", E};
    case Code::lone_percent:
        return {"HS201", E};
    case Code::bad_reference:
        return {"HS202", E};
    case Code::missing_reference:
        return {"HS203", E};
    case Code::reference_depth:
        return {"HS204", E};
    case Code::expansion_too_large:
        return {"HS205", E};
    case Code::description_unreadable:
        return {"HS211", W};
    case Code::filters_unreadable:
        return {"HS212", W};
    case Code::no_quorvane:
        return {"HS301", E};
    case Code::no_action:
        return {"HS302", W};
    case Code::near_section:
        return {"HS303", W};
    case Code::unread_default_option:
        return {"HS304", W};
    case Code::defaults_in_every_request:
        return {"HS305", W};
    case Code::empty_filter_step:
        return {"HS401", W};
    case Code::empty_filter_key:
        return {"HS402", W};
    case Code::missing_check:
        return {"HS501", E};
    case Code::empty_output_name:
        return {"HS502", E};
    case Code::reference_cycle:
        return {"HS503", E};
    case Code::ignored_output:
        return {"HS504", W};
    case Code::near_output:
        return {"HS505", W};
    case Code::skipped_name:
        return {"HS601", W};
    case Code::no_checks:
        return {"HS602", W};
    case Code::continued_line:
        return {"HS109", W};
    case Code::inline_comment:
        return {"HS110", W};
    case Code::folded_name:
        return {"HS306", W};
    case Code::default_option_sent:
        return {"HS307", W};
    }
    return {"HS000", E};
}

std::vector<CodeInfo> all_codes() {
    std::vector<CodeInfo> codes;
    for (int code = 0; code <= static_cast<int>(Code::default_option_sent); ++code)
        codes.push_back(info(static_cast<Code>(code)));
    std::sort(codes.begin(), codes.end(), [](const CodeInfo &a, const CodeInfo &b) {
        return std::string_view(a.code) < std::string_view(b.code);
    });
    return codes;
}

namespace {

std::string count_key(const std::string &path, Code code) {
    return info(code).code + std::string(1, '\0') + path;
}

}  // namespace

bool Findings::take(const std::string &path, Code code) {
    return ++counts_[count_key(path, code)] <= kMostOfOneCode;
}

void Findings::put(const std::string &path, size_t line, size_t column, Code code,
                   std::string message) {
    list_.push_back(Finding{path, line, column, code, std::move(message), false});
}

std::vector<Finding> Findings::all() const {
    std::vector<Finding> result = list_;
    std::unordered_map<std::string, bool> said;
    for (const Finding &finding : list_) {
        const std::string key = count_key(finding.path, finding.code);
        const size_t count = counts_.at(key);
        if (count <= kMostOfOneCode || !said.emplace(key, true).second)
            continue;
        result.push_back(Finding{finding.path, 0, 0, finding.code,
                                 "and " + std::to_string(count - kMostOfOneCode) +
                                     " more like these in this file, not shown",
                                 true, count - kMostOfOneCode});
    }
    return result;
}

}  // namespace harborsweep::lint
