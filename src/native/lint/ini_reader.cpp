// The reader of configparser.ConfigParser() with its default settings, line
// by line: comments are whole lines starting with "#" or ";"; a line
// indented deeper than the option before it continues that option, blank
// lines inside a value stay in it; a header is "[" name "]" with the last
// "]" closing it; an option line splits at its first "=" or ":". Where the
// real reader would stop at a mistake, this one notes it and reads on, so
// that every mistake of the file is found at once.
#include "lint/ini_reader.hpp"

#include <algorithm>

#include "lint/interrupts.hpp"

namespace harborsweep::lint {
namespace {

constexpr long kNoSection = -1, kDefaults = -2, kDiscarded = -3;

class Reader {
public:
    Reader(const SourceText &source, IniFile &file) : source_(source), file_(file) {
        file_.defaults.name = from_ascii("DEFAULT");
    }

    void read() {
        for (size_t i = 0; i < source_.lines.size(); ++i) {
            check_interrupts();
            line_ = i + 1;
            if (source_.failure && i == source_.failure->lines_read_first)
                raise(ReadError::unicode_decode, 0);
            read_line(source_.lines[i]);
        }
        if (source_.failure)
            raise(ReadError::unicode_decode, 0);
        for (const IniProblem &problem : file_.problems)
            if (problem.kind == ReadError::parsing)
                raise(ReadError::parsing, problem.line);
        finish_values(file_.defaults);
        for (IniSection &section : file_.sections)
            finish_values(section);
    }

private:
    void read_line(const Text &line) {
        const TextView trimmed = strip(line);
        const bool comment = !trimmed.empty() && (trimmed[0] == U'#' || trimmed[0] == U';');
        if (trimmed.empty() || comment) {
            if (!comment && option_ != nullptr && option_named_)
                option_->value += U'\n';
            return;
        }
        const size_t indent = static_cast<size_t>(trimmed.data() - line.data());
        if (section_ != kNoSection && option_ != nullptr && option_named_ && indent > indent_) {
            option_->value += U'\n';
            option_->value += trimmed;
            return;
        }
        indent_ = indent;
        read_statement(trimmed, indent + 1);
    }

    void read_statement(TextView text, size_t column) {
        const size_t close = text.rfind(U']');
        if (text[0] == U'[' && close != TextView::npos && close >= 2) {
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
        file_.sections.push_back(IniSection{std::move(name), line_, column, {}, {}});
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
        section.options.push_back(IniOption{std::move(name), Text(value), line_, column,
                                            value.empty() ? column + text.size() : value_column,
                                            0});
        section.index.added(section.options);
        option_ = &section.options.back();
        // Options stay where they are until the section grows; the pointer
        // is taken afresh for every line that adds one.
    }

    IniProblem problem_at(ReadError kind, size_t column) const {
        IniProblem problem;
        problem.kind = kind;
        problem.line = line_;
        problem.column = column;
        return problem;
    }

    void note(const IniProblem &problem) {
        file_.problems.push_back(problem);
        if (problem.kind != ReadError::parsing)
            raise(problem.kind, problem.line);
    }

    void raise(ReadError kind, size_t line) {
        if (!file_.raised) {
            file_.raised = kind;
            file_.raised_line = line;
        }
    }

    static void finish_values(IniSection &section) {
        for (IniOption &option : section.options) {
            option.value.resize(rstrip(option.value).size());
            option.first_line_end = std::min(option.value.find(U'\n'), option.value.size());
        }
    }

    const SourceText &source_;
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

const char *python_class_of(ReadError error) {
    switch (error) {
    case ReadError::unicode_decode:
        return "UnicodeDecodeError";
    case ReadError::missing_header:
        return "MissingSectionHeaderError";
    case ReadError::duplicate_section:
        return "DuplicateSectionError";
    case ReadError::duplicate_option:
        return "DuplicateOptionError";
    case ReadError::parsing:
        return "ParsingError";
    }
    return "Error";
}

IniFile read_ini(const SourceText &source) {
    IniFile file;
    Reader(source, file).read();
    return file;
}

}  // namespace harborsweep::lint
