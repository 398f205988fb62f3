// The reader of configparser.ConfigParser() with its default settings, line
// by line: comments are whole lines starting with "#" or ";"; a line
// indented deeper than the option before it continues that option, blank
// lines inside a value stay in it; a header is "[" name "]" with the last
// "]" closing it; an option line splits at its first "=" or ":". Where the
// real reader would stop at a mistake, this one notes it and reads on, so
// that every mistake of the file is found at once. Lines come one by one
// from the decoder.
#include "lint/ini_reader.hpp"

#include <algorithm>

#include "lint/interrupts.hpp"

namespace harborsweep::lint {
namespace {

constexpr long kNoSection = -1, kDefaults = -2, kDiscarded = -3;
// More than the findings of a code that a file gives.
constexpr size_t kNotedContinuations = 128;

class Reader final : public LineSink {
public:
    explicit Reader(IniFile &file) : file_(file) { file_.defaults.name = from_ascii("DEFAULT"); }

    void line(TextView line) override {
        check_interrupts();
        ++line_;
        read_line(line);
    }

    void finish() {
        finish_values(file_.defaults);
        for (IniSection &section : file_.sections)
            finish_values(section);
    }

private:
    void read_line(TextView line) {
        const TextView trimmed = strip(line);
        const bool comment = !trimmed.empty() && (trimmed[0] == U'#' || trimmed[0] == U';');
        if (trimmed.empty() || comment) {
            if (!comment && option_ != nullptr && option_named_)
                file_.texts.extend(option_->value, U"\n");
            return;
        }
        const size_t indent = static_cast<size_t>(trimmed.data() - line.data());
        if (section_ != kNoSection && option_ != nullptr && option_named_ && indent > indent_) {
            file_.texts.extend(option_->value, U"\n");
            file_.texts.extend(option_->value, trimmed);
            note_continuation(trimmed, indent + 1);
            return;
        }
        indent_ = indent;
        read_statement(trimmed, indent + 1);
    }

    static bool is_header(TextView text) {
        const size_t close = text.rfind(U']');
        return text[0] == U'[' && close != TextView::npos && close >= 2;
    }

    // A continuation line that reads as a header, or as an option line with
    // a name such as options have, is noted: the file likely meant it so.
    void note_continuation(TextView text, size_t column) {
        if (option_ == &discarded_option_ || section_ == kDiscarded)
            return;
        const bool header = is_header(text);
        Text written;
        if (header) {
            written = Text(text.substr(0, text.rfind(U']') + 1));
        } else {
            const size_t delimiter = text.find_first_of(U"=:");
            if (delimiter == TextView::npos ||
                !looks_like_a_name(rstrip(text.substr(0, delimiter))))
                return;
            written = ascii_lower(rstrip(text.substr(0, delimiter)));
            if (section_ >= 0 && current_section().name == U"default" &&
                written != U"description" && written != U"filters")
                return;
        }
        if (file_.continuations.size() >= kNotedContinuations) {
            ++file_.more_continuations;
            return;
        }
        file_.continuations.push_back(IniContinuation{line_, column, header, std::move(written),
                                                      Text(option_->name), option_->line});
    }

    static bool looks_like_a_name(TextView name) {
        if (name.empty() || name.size() > 64 || !(is_letter(name[0]) || name[0] == U'_'))
            return false;
        for (char32_t c : name)
            if (!is_letter(c) && !(c >= U'0' && c <= U'9') && c != U'_' && c != U'-' && c != U'.')
                return false;
        return true;
    }

    static bool is_letter(char32_t c) {
        return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    }

    void read_statement(TextView text, size_t column) {
        if (is_header(text)) {
            const size_t close = text.rfind(U']');
            open_section(Text(text.substr(1, close - 1)), column);
        } else if (section_ == kNoSection) {
            missing_header(text, column);
        } else {
            read_option(text, column);
        }
    }

    // A byte-order mark is read as text: the header after it is not one. The
    // mark is noted, and the rest of the line read as if it were not there.
    void missing_header(TextView text, size_t column) {
        IniProblem problem = problem_at(ReadError::missing_header, column);
        problem.byte_order_mark = text[0] == U'\uFEFF';
        note(problem);
        if (!problem.byte_order_mark)
            return;
        // Read once more without it; a second mark is not looked past.
        const TextView rest = strip(text.substr(1));
        if (!rest.empty() && rest[0] != U'#' && rest[0] != U';' && rest[0] != U'\uFEFF')
            read_statement(rest, column + static_cast<size_t>(rest.data() - text.data()));
    }

    void open_section(Text name, size_t column) {
        option_ = nullptr;
        const std::optional<size_t> known = file_.index.find(name, file_.sections);
        if (known) {
            IniProblem problem = problem_at(ReadError::duplicate_section, column);
            problem.name = name;
            problem.first_line = file_.sections[*known].line;
            note(problem);
            section_ = kDiscarded;
            discarded_ = IniSection{};
            discarded_.name = name;
            return;
        }
        if (name == file_.defaults.name) {
            section_ = kDefaults;
            if (file_.defaults.line == 0) {
                file_.defaults.line = line_;
                file_.defaults.column = column;
            }
            return;
        }
        section_ = static_cast<long>(file_.sections.size());
        IniSection section;
        section.name = std::move(name);
        section.line = line_;
        section.column = column;
        file_.sections.push_back(std::move(section));
        file_.index.added(file_.sections);
    }

    IniSection &current_section() {
        if (section_ == kDefaults)
            return file_.defaults;
        if (section_ == kDiscarded)
            return discarded_;
        return file_.sections[static_cast<size_t>(section_)];
    }

    void read_option(TextView text, size_t column) {
        const size_t delimiter = text.find_first_of(U"=:");
        if (delimiter == TextView::npos) {
            note(problem_at(ReadError::parsing, column));
            return;
        }
        const TextView written = rstrip(text.substr(0, delimiter));
        const TextView after = text.substr(delimiter + 1);
        const TextView value = strip(after);
        if (written.empty()) {
            IniProblem problem = problem_at(ReadError::parsing, column + delimiter);
            problem.empty_name = true;
            note(problem);
        }
        IniSection &section = current_section();
        Text name = lower(written);
        const std::optional<size_t> known = section.index.find(name, section.options);
        option_named_ = !name.empty();
        if (known) {
            IniProblem problem = problem_at(ReadError::duplicate_option, column);
            problem.name = name;
            problem.first_line = section.options[*known].line;
            note(problem);
            discarded_option_ = IniOption{};
            option_ = &discarded_option_;
            return;
        }
        const size_t value_column = column + (value.data() - text.data());
        const bool folded = name != written;
        section.options.push_back(IniOption{
            file_.texts.keep(name), file_.texts.keep(value), static_cast<uint32_t>(line_),
            static_cast<uint32_t>(column),
            static_cast<uint32_t>(value.empty() ? column + text.size() : value_column), 0, folded});
        section.index.added(section.options);
        option_ = &section.options.back();
    }

    IniProblem problem_at(ReadError kind, size_t column) const {
        IniProblem problem;
        problem.kind = kind;
        problem.line = line_;
        problem.column = column;
        return problem;
    }

    void note(const IniProblem &problem) { file_.problems.push_back(problem); }

    static void finish_values(IniSection &section) {
        for (IniOption &option : section.options) {
            option.value = rstrip(option.value);
            option.first_line_end =
                static_cast<uint32_t>(std::min(option.value.find(U'\n'), option.value.size()));
            option.has_percent = option.value.find(U'%') != TextView::npos;
        }
    }

    IniFile &file_;
    size_t line_ = 0;
    long section_ = kNoSection;
    IniSection discarded_;
    IniOption discarded_option_;
    IniOption *option_ = nullptr;  // the option that later lines may continue
    bool option_named_ = false;    // configparser continues only a named one
    size_t indent_ = 0;
};

}  // namespace

IniFile read_ini(const std::string &bytes, const Decoding &decoding) {
    IniFile file;
    Reader reader(file);
    file.decode_failure = decode_file(bytes, decoding, reader);
    reader.finish();
    return file;
}

}  // namespace harborsweep::lint
