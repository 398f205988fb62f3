// The messages of reading mistakes: each says what the run does with the
// file, and how to mend it.
#include "lint/read_findings.hpp"

#include <cstdio>

#include "lint/messages.hpp"

namespace harborsweep::lint {

std::string unreadable_message(const CheckModel &check, bool listed) {
    if (check.too_large)
        return "is " + std::to_string(check.too_large >> 20) +
               " MiB, far larger than a check file (the linter reads at most " +
               std::to_string(kLargestFileRead >> 20) +
               " MiB): the run reads it whole, and a file this size ends it with MemoryError "
               "or keeps it reading for minutes; put the check file meant in its place";
    if (check.not_regular)
        return "is not a regular file (a named pipe, a socket or a device): the run would wait "
               "on it, or read it without end; put a check file in its place";
    const ReadFailure &failure = *check.read_failure;
    if (failure.python_class == "IsADirectoryError" && listed)
        return "is a directory, but its name ends in `.cfg`, so the run takes it for a check "
               "file and ends with IsADirectoryError; rename it or move it elsewhere";
    return "cannot be read: the run ends with " + failure.python_class + " (" + failure.reason +
           "); make it a readable check file";
}

void find_in_reading(const CheckModel &check, const Decoding &decoding, Findings &findings) {
    if (!check.decode_failure)
        return;
    const DecodeFailure &failure = *check.decode_failure;
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02x", failure.byte);
    findings.add(check.path, failure.line, failure.column, Code::undecodable,
                 std::string("byte ") + byte + " does not decode as " + decoding.name + " (" +
                     failure.reason +
                     "): the run ends with UnicodeDecodeError when it reads this far; save the "
                     "file as " +
                     decoding.name + " text");
}

namespace {

Code problem_code(const IniProblem &problem) {
    switch (problem.kind) {
    case ReadError::missing_header:
        return problem.byte_order_mark ? Code::byte_order_mark : Code::missing_header;
    case ReadError::duplicate_section:
        return Code::duplicate_section;
    case ReadError::duplicate_option:
        return Code::duplicate_option;
    case ReadError::parsing:
        return problem.empty_name ? Code::empty_option_name : Code::no_delimiter;
    case ReadError::unicode_decode:
        break;
    }
    return Code::unreadable;
}

std::string problem_message(const IniProblem &problem) {
    const std::string first = std::to_string(problem.first_line);
    switch (problem_code(problem)) {
    case Code::byte_order_mark:
        return "a byte-order mark (U+FEFF) is read as text before the first section header: "
               "the run ends with MissingSectionHeaderError; save the file without the mark";
    case Code::missing_header:
        return "text before the first section header: the run ends with "
               "MissingSectionHeaderError; put a header such as `[quorvane]` above it, or "
               "start the line with `#` to make it a comment";
    case Code::duplicate_section:
        return "section " + quoted(U"[" + problem.name + U"]") + " is already opened at line " +
               first + ": the run ends with DuplicateSectionError; merge the two";
    case Code::duplicate_option:
        return "option " + quoted(problem.name) + " is already set at line " + first +
               " of this section (names ignore case): the run ends with DuplicateOptionError; "
               "keep one of the two";
    case Code::empty_option_name:
        return "no option name before the delimiter: the run ends with ParsingError; write the "
               "name before it";
    default:
        return "the line has no `=` or `:`: the run ends with ParsingError; write "
               "`name = value`, indent the line further to continue the value above, or start "
               "it with `#` to make it a comment";
    }
}

}  // namespace

void find_in_lines(const CheckModel &check, Findings &findings) {
    for (const IniProblem &problem : check.ini.problems) {
        const Code code = problem_code(problem);
        if (findings.take(check.path, code))
            findings.put(check.path, problem.line, problem.column, code, problem_message(problem));
    }
}

}  // namespace harborsweep::lint
