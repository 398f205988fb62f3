// Long texts. The text is cut after each line boundary (the boundary stays
// with its line); a line whose literal does not fit is cut into words, each a
// run of non-whitespace with the whitespace after it, gathered greedily into
// pieces whose literals fit. Each piece is written as its own literal, so
// quotes are chosen per piece, as repr() of that piece chooses them.
#include "text_layout.hpp"

#include "layout_plan.hpp"
#include "literals.hpp"
#include "text_literal.hpp"

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
                sink_.ascii("(");
            write(first_start_, first_end_);
        }
        sink_.line_break(static_cast<std::size_t>(indent_));
        write(start, end);
    }

    void finish() {
        if (count_ == 1)
            sink_.literal(literal_of(text_));  // the one piece is the text
        else if (whole_result_)
            sink_.ascii(")");
    }

private:
    void write(Py_ssize_t start, Py_ssize_t end) {
        nb::object piece = nb::steal(PyUnicode_Substring(text_.ptr(), start, end));
        if (!piece.is_valid())
            nb::raise_python_error();
        sink_.literal(literal_of(piece));
    }

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

Py_ssize_t line_end(const TextView &view, Py_ssize_t start) {
    Py_ssize_t size = view.size();
    for (Py_ssize_t i = start; i < size; ++i) {
        Py_UCS4 ch = view.at(i);
        if (Py_UNICODE_ISLINEBREAK(ch)) {
            if (ch == '\r' && i + 1 < size && view.at(i + 1) == '\n')
                ++i;
            return i + 1;
        }
    }
    return size;
}

Py_ssize_t word_end(const TextView &view, Py_ssize_t start, Py_ssize_t end) {
    Py_ssize_t i = start;
    while (i < end && !Py_UNICODE_ISSPACE(view.at(i)))
        ++i;
    while (i < end && Py_UNICODE_ISSPACE(view.at(i)))
        ++i;
    return i;
}

// Gathers the words of one line into pieces. `room` is the width for every
// piece; the last word of the text's last line has `last_room`.
void split_line(const TextView &view, Py_ssize_t start, Py_ssize_t end, std::int64_t room,
                std::int64_t last_room, PieceWriter &out) {
    Py_ssize_t piece_start = start;
    LiteralCost piece;
    for (Py_ssize_t word = start; word < end;) {
        Py_ssize_t next = word_end(view, word, end);
        LiteralCost cost = view.cost(word, next);
        LiteralCost candidate = piece;
        candidate.add(cost);
        if (fits(candidate, next == end ? last_room : room)) {
            piece = candidate;
        } else {
            if (!piece.empty())
                out.piece(piece_start, word);
            piece_start = word;
            piece = cost;
        }
        word = next;
    }
    if (!piece.empty())
        out.piece(piece_start, end);
}

}  // namespace

void write_text(OutputSink &sink, nb::handle text, std::int64_t indent, std::int64_t allowance,
                bool whole_result) {
    Py_ssize_t size = PyUnicode_GET_LENGTH(text.ptr());
    // A literal is at least two quotes longer than its text: only build it
    // when it may fit.
    if (size + 2 <= kPageWidth - indent - allowance) {
        nb::object literal = literal_of(text);
        if (PyUnicode_GET_LENGTH(literal.ptr()) <= kPageWidth - indent - allowance) {
            sink.literal(literal);
            return;
        }
    }
    if (size == 0) {
        sink.ascii("''");
        return;
    }
    if (whole_result) {
        indent += 1;
        allowance += 1;
    }
    std::int64_t room = kPageWidth - indent;
    TextView view(text);
    PieceWriter out(sink, text, indent, whole_result);
    for (Py_ssize_t start = 0; start < size;) {
        Py_ssize_t end = line_end(view, start);
        bool last_line = end == size;
        std::int64_t line_room = last_line ? room - allowance : room;
        if (fits(view.cost(start, end), line_room))
            out.piece(start, end);
        else
            split_line(view, start, end, room, line_room, out);
        start = end;
    }
    out.finish();
}

}  // namespace harborsweep
