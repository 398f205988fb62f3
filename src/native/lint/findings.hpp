// What the linter reports: one finding per mistake, with where it is, a
// stable code, how bad it is for the run, and what to do about it.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace harborsweep::lint {

enum class Severity { error, warning };

// Every code the linter gives, with its severity. The codes are part of the
// command's interface: users ignore them by name, so a code never changes
// its meaning.
enum class Code {
    unreadable,             // HS101
    undecodable,            // HS102
    byte_order_mark,        // HS103
    missing_header,         // HS104
    duplicate_section,      // HS105
    duplicate_option,       // HS106
    no_delimiter,           // HS107
    empty_option_name,      // HS108
    lone_percent,           // HS201
    bad_reference,          // HS202
    missing_reference,      // HS203
    reference_depth,        // HS204
    expansion_too_large,    // HS205
    description_unreadable, // HS211
    filters_unreadable,     // HS212
    no_quorvane,            // HS301
    no_action,              // HS302
    near_section,           // HS303
    unread_default_option,  // HS304
    defaults_in_every_request,  // HS305
    empty_filter_step,      // HS401
    empty_filter_key,       // HS402
    missing_check,          // HS501
    empty_output_name,      // HS502
    reference_cycle,        // HS503
    ignored_output,         // HS504
    near_output,            // HS505
    skipped_name,           // HS601
    no_checks,              // HS602
    continued_line,         // HS109
    inline_comment,         // HS110
    folded_name,            // HS306
    default_option_sent,    // HS307
};

struct CodeInfo {
    const char *code;
    Severity severity;
};

CodeInfo info(Code code);
std::vector<CodeInfo> all_codes();  // in the order of their texts

struct Finding {
    std::string path;  // file-system bytes of the file, or directory, it is about
    size_t line = 0, column = 0;  // 1-based; 0 where there is none
    Code code;
    std::string message;   // UTF-8
    bool summary = false;  // no finding: counts the findings of its code left out
    size_t left_out = 0;   // of a summary: how many
};

// The findings of a run. A file gives at most kMostOfOneCode findings of one
// code (a file of 10 MB of bad lines would give millions); the rest are
// counted, and said in one more finding of that code.
class Findings {
public:
    static constexpr size_t kMostOfOneCode = 100;

    void add(const std::string &path, size_t line, size_t column, Code code, std::string message) {
        if (take(path, code))
            put(path, line, column, code, std::move(message));
    }

    // Counts a finding; whether it is one to give. Where findings may come
    // by the million, the caller builds a message only for those.
    bool take(const std::string &path, Code code);
    void put(const std::string &path, size_t line, size_t column, Code code, std::string message);

    // The findings, with a count of those left out for each file and code.
    std::vector<Finding> all() const;

private:
    std::vector<Finding> list_;
    std::unordered_map<std::string, size_t> counts_;  // path and code -> findings given
};

}  // namespace harborsweep::lint
