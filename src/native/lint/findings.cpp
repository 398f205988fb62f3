// The table of codes: each code's text and severity. An error is a mistake
// that ends the run at that check; a warning one that the run goes past,
// doing something other than the file seems to say.
#include "lint/findings.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace harborsweep::lint {

namespace {

constexpr Severity E = Severity::error, W = Severity::warning;

// Indexed by Code, in its order.
constexpr CodeInfo kCodes[] = {
    {"HS101", E},  // unreadable
    {"HS102", E},  // undecodable
    {"HS103", E},  // byte_order_mark
    {"HS104", E},  // missing_header
    {"HS105", E},  // duplicate_section
    {"HS106", E},  // duplicate_option
    {"HS107", E},  // no_delimiter
    {"HS108", E},  // empty_option_name
    {"HS201", E},  // lone_percent
    {"HS202", E},  // bad_reference
    {"HS203", E},  // missing_reference
    {"HS204", E},  // reference_depth
    {"HS205", E},  // expansion_too_large
    {"HS211", W},  // description_unreadable
    {"HS212", W},  // filters_unreadable
    {"HS301", E},  // no_quorvane
    {"HS302", W},  // no_action
    {"HS303", W},  // near_section
    {"HS304", W},  // unread_default_option
    {"HS305", W},  // defaults_in_every_request
    {"HS401", W},  // empty_filter_step
    {"HS402", W},  // empty_filter_key
    {"HS501", E},  // missing_check
    {"HS502", E},  // empty_output_name
    {"HS503", E},  // reference_cycle
    {"HS504", W},  // ignored_output
    {"HS505", W},  // near_output
    {"HS601", W},  // skipped_name
    {"HS602", W},  // no_checks
    {"HS109", W},  // continued_line
    {"HS110", W},  // inline_comment
    {"HS306", W},  // folded_name
    {"HS307", W},  // default_option_sent
};
static_assert(std::size(kCodes) == static_cast<size_t>(Code::default_option_sent) + 1,
              "a code without its row");

}  // namespace

CodeInfo info(Code code) { return kCodes[static_cast<size_t>(code)]; }

std::vector<CodeInfo> all_codes() {
    std::vector<CodeInfo> codes(std::begin(kCodes), std::end(kCodes));
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
