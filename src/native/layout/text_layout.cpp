// Long texts. The text is cut after each line boundary (the boundary stays
// with its line); a line whose literal does not fit is cut into words, each a
// run of non-whitespace with the whitespace after it, gathered greedily into
// pieces whose literals fit. Each piece is written as its own literal, so
// quotes are chosen per piece, as repr() of that piece chooses them.
//
// A literal only grows as characters are added to its text, so a line that
// fits gathers into one piece anyway: one greedy pass over the words does
// both the line test and the word split.
#include "layout/text_layout.hpp"

#include <array>
#include <cstdint>

#include "layout/page.hpp"
#include "layout/text_literal.hpp"

namespace harborsweep {
namespace {

// Writes the pieces as they are found; the first is held back until a
// second shows whether there are several (only then the parentheses).
class PieceWriter {
public:
    PieceWriter(OutputSink &sink, nb::handle text, std::int64_t indent, bool whole_result)
        : sink_(sink), text_(text), indent_(indent), whole_result_(whole_result) {}

    void piece(Py_ssize_t start, Py_ssize_t end) {
        ++count_;
        if (count_ == 1) {
            first_start_ = start;
            first_end_ = end;
            return;
        }
        if (count_ == 2) {
            if (whole_result_)
                sink_.ascii('(');
            write_text_literal(sink_, text_, first_start_, first_end_);
        }
        sink_.line_break(static_cast<std::size_t>(indent_));
        write_text_literal(sink_, text_, start, end);
    }

    void finish() {
        if (count_ == 1)
            write_text_literal(sink_, text_);  // the one piece is the text
        else if (whole_result_)
            sink_.ascii(')');
    }

private:
    OutputSink &sink_;
    nb::handle text_;
    std::int64_t indent_;
    bool whole_result_;
    int count_ = 0;
    Py_ssize_t first_start_ = 0;
    Py_ssize_t first_end_ = 0;
};

bool fits(const LiteralCost &cost, std::int64_t room) {
    return static_cast<std::int64_t>(cost.length()) <= room;
}

// What splitting asks of an ASCII character, from one table: its cost in a
// literal in the low bits, and what it is (the interpreter's ASCII
// whitespace and line boundaries).
enum AsciiClass : std::uint8_t {
    kSpace = 0x10,
    kLineBoundary = 0x20,
    kSingle = 0x40,
    kDouble = 0x80
};

constexpr std::array<std::uint8_t, 128> make_ascii_classes() {
    std::array<std::uint8_t, 128> classes{};
    for (unsigned ch = 0; ch < 128; ++ch) {
        unsigned bits = ascii_char_cost(ch);
        if ((ch >= 0x09 && ch <= 0x0d) || (ch >= 0x1c && ch <= 0x20))
            bits |= kSpace;
        if (ch == '\n' || ch == '\r' || ch == 0x0b || ch == 0x0c || (ch >= 0x1c && ch <= 0x1e))
            bits |= kLineBoundary;
        bits |= ch == '\'' ? kSingle : ch == '"' ? kDouble : 0;
        classes[ch] = static_cast<std::uint8_t>(bits);
    }
    return classes;
}

struct AsciiChars {
    static constexpr std::array<std::uint8_t, 128> kClasses = make_ascii_classes();

    static bool space(Py_UCS4 ch) { return kClasses[ch] & kSpace; }
    static bool line_boundary(Py_UCS4 ch) { return kClasses[ch] & kLineBoundary; }
    static void count(LiteralCost &cost, Py_UCS4 ch) {
        unsigned bits = kClasses[ch];
        cost.body += bits & 0x0f;
        cost.single_quotes += (bits & kSingle) != 0;
        cost.double_quotes += (bits & kDouble) != 0;
    }
};

// What splitting asks of a character, for any str.
struct AnyChars {
    static bool space(Py_UCS4 ch) { return Py_UNICODE_ISSPACE(ch); }
    static bool line_boundary(Py_UCS4 ch) {
        return ch < 0x80 ? AsciiChars::line_boundary(ch) : Py_UNICODE_ISLINEBREAK(ch);
    }
    static void count(LiteralCost &cost, Py_UCS4 ch) {
        cost.body += char_cost(ch);
        cost.single_quotes += ch == '\'';
        cost.double_quotes += ch == '"';
    }
};

// Every piece gets `room`, except that the last word of the text gets
// `last_room`.
template <typename Chars, typename Char>
void split(const Char *chars, Py_ssize_t size, std::int64_t room, std::int64_t last_room,
           PieceWriter &out) {
    Py_ssize_t piece_start = 0;
    LiteralCost piece;
    for (Py_ssize_t i = 0; i < size;) {
        Py_ssize_t word = i;
        LiteralCost cost;
        bool line_ends = false;
        while (i < size && !Chars::space(chars[i]))
            Chars::count(cost, chars[i++]);
        while (i < size && Chars::space(chars[i])) {
            Py_UCS4 ch = chars[i++];
            Chars::count(cost, ch);
            if (Chars::line_boundary(ch)) {
                if (ch == '\r' && i < size && chars[i] == '\n')
                    Chars::count(cost, chars[i++]);
                line_ends = true;
                break;
            }
        }
        bool text_ends = i == size;
        LiteralCost candidate = piece;
        candidate.add(cost);
        if (fits(candidate, text_ends ? last_room : room)) {
            piece = candidate;
        } else {
            if (!piece.empty())
                out.piece(piece_start, word);
            piece_start = word;
            piece = cost;
        }
        if (line_ends || text_ends) {
            out.piece(piece_start, i);
            piece_start = i;
            piece = LiteralCost{};
        }
    }
}

}  // namespace

void write_text(OutputSink &sink, nb::handle text, std::int64_t indent, std::int64_t allowance,
                bool whole_result) {
    ensure_ready(text);
    PyObject *str = text.ptr();
    Py_ssize_t size = PyUnicode_GET_LENGTH(str);
    // A literal is at least two quotes longer than its text, and at most
    // two quotes and the longest escape of its widest character per
    // character: only measure it when neither settles whether it fits.
    std::int64_t room = kPageWidth - indent - allowance;
    bool fits = size + 2 <= room && (size * longest_escape(PyUnicode_KIND(str)) + 2 <= room ||
                                     static_cast<std::int64_t>(text_literal_length(text)) <= room);
    if (size == 0 || fits) {
        write_text_literal(sink, text);
        return;
    }
    if (whole_result) {
        indent += 1;
        allowance += 1;
    }
    room = kPageWidth - indent;
    PieceWriter out(sink, text, indent, whole_result);
    const void *data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
        if (PyUnicode_IS_ASCII(str))
            split<AsciiChars>(static_cast<const Py_UCS1 *>(data), size, room, room - allowance,
                              out);
        else
            split<AnyChars>(static_cast<const Py_UCS1 *>(data), size, room, room - allowance, out);
        break;
    case PyUnicode_2BYTE_KIND:
        split<AnyChars>(static_cast<const Py_UCS2 *>(data), size, room, room - allowance, out);
        break;
    default:
        split<AnyChars>(static_cast<const Py_UCS4 *>(data), size, room, room - allowance, out);
        break;
    }
    out.finish();
}

}  // namespace harborsweep
