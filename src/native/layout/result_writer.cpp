// Writing results: natively when `pp` is the plain pretty printer that the
// module creates, its stream one whose write() runs none of a caller's code,
// and the result is made of plain JSON-like values; otherwise through
// `pp.pprint` itself. The output is the same either way, and so is what a
// stream that fails part-way has taken by then.
#include "layout/result_writer.hpp"

#include <array>
#include <string_view>

#include "bridge/module_globals.hpp"
#include "bridge/module_state.hpp"
#include "layout/layout_plan.hpp"
#include "layout/layout_writer.hpp"
#include "layout/pprint_own.hpp"
#include "layout/stream_kind.hpp"

namespace harborsweep {
namespace {

// What a PrettyPrinter instance holds in its __dict__; anything else (such
// as a patched pprint method) is a caller's change and goes through pprint.
// Python 3.15 added the `expand` setting, and `_pending_prefix_len`, which
// its layout sets on the instance in every call and leaves at 0.
constexpr std::array<std::string_view, 11> kPrinterAttributes{
    "_depth",
    "_indent_per_level",
    "_width",
    "_stream",
    "_compact",
    "_sort_dicts",
    "_underscore_numbers",
    "_readable",
    "_recursive",
    "_expand",
    "_pending_prefix_len",
};

#if PY_VERSION_HEX >= 0x030F0000
constexpr bool kPrinterHasExpand = true;
#else
constexpr bool kPrinterHasExpand = false;
#endif

bool known_attribute(nb::handle name) {
    if (!PyUnicode_CheckExact(name.ptr()))
        return false;
    Py_ssize_t size = 0;
    const char *text = PyUnicode_AsUTF8AndSize(name.ptr(), &size);
    if (!text)
        nb::raise_python_error();
    std::string_view view(text, static_cast<std::size_t>(size));
    for (std::string_view known : kPrinterAttributes)
        if (view == known)
            return true;
    return false;
}

bool is_exact_int(PyObject *object, long expected) {
    if (!object || !PyLong_CheckExact(object))
        return false;
    int overflow = 0;
    return PyLong_AsLongAndOverflow(object, &overflow) == expected && !overflow;
}

// The stream of `pp` when it is a plain PrettyPrinter(width=200) with every
// other setting at its default, of the class as pprint made it; an invalid
// object otherwise.
nb::object plain_printer_stream(nb::handle module, nb::handle pp) {
    nb::object pprint = global(module, "pprint");
    nb::object printer_type = pprint.attr("PrettyPrinter");
    if (reinterpret_cast<PyObject *>(Py_TYPE(pp.ptr())) != printer_type.ptr() ||
        !pprint_is_own(pprint, printer_type, module_state(module.ptr()).pprint_originals))
        return {};
    nb::object attributes = nb::steal(PyObject_GenericGetDict(pp.ptr(), nullptr));
    if (!attributes.is_valid())
        nb::raise_python_error();
    if (!PyDict_CheckExact(attributes.ptr()))
        return {};
    Py_ssize_t position = 0;
    PyObject *name = nullptr;
    PyObject *value = nullptr;
    while (PyDict_Next(attributes.ptr(), &position, &name, &value))
        if (!known_attribute(name))
            return {};
    auto get = [&](const char *key) { return PyDict_GetItemString(attributes.ptr(), key); };
    PyObject *stream = get("_stream");
    PyObject *expand = get("_expand");
    PyObject *pending_prefix = get("_pending_prefix_len");
    // From 3.15 on pprint reads `_expand`, which must then be False; before,
    // a printer has none.
    bool expand_off = expand == Py_False || (!kPrinterHasExpand && !expand);
    bool plain = is_exact_int(get("_width"), 200) && is_exact_int(get("_indent_per_level"), 1) &&
                 get("_depth") == Py_None && get("_compact") == Py_False &&
                 get("_sort_dicts") == Py_True && get("_underscore_numbers") == Py_False &&
                 expand_off && (!pending_prefix || is_exact_int(pending_prefix, 0)) && stream &&
                 stream != Py_None;
    return plain ? nb::borrow(stream) : nb::object();
}

// The stream a printer of any kind writes to, where it keeps one as a
// PrettyPrinter does: `_stream` in its instance dict (read there, so that a
// stand-in printer such as a mock is not asked to make one up).
nb::object printer_stream(nb::handle pp) {
    nb::object attributes = nb::getattr(pp, "__dict__", nb::none());
    if (!PyDict_Check(attributes.ptr()))
        return {};
    PyObject *stream = PyDict_GetItemWithError(attributes.ptr(), nb::str("_stream").ptr());
    if (!stream && PyErr_Occurred())
        nb::raise_python_error();
    return stream ? nb::borrow(stream) : nb::object();
}

// Python frames (and guarded C calls) in progress on this thread.
int recursion_depth() {
    PyThreadState *state = PyThreadState_Get();
#if PY_VERSION_HEX >= 0x030C0000
    return state->py_recursion_limit - state->py_recursion_remaining;
#elif PY_VERSION_HEX >= 0x030B0000
    return state->recursion_limit - state->recursion_remaining;
#else
    return state->recursion_depth;
#endif
}

// pprint recurses three frames per level of nesting, and from 3.15 on four
// for a dict, whose values it lays out through _format_child. Where it might
// run out of recursion room it is left to raise its own RecursionError, at
// the same point and after the same partial output.
bool pprint_has_room(std::size_t depth) {
#if PY_VERSION_HEX >= 0x030F0000
    constexpr std::size_t kFramesPerLevel = 4;
#else
    constexpr std::size_t kFramesPerLevel = 3;
#endif
    constexpr std::size_t kMargin = 50;
    std::size_t limit = static_cast<std::size_t>(Py_GetRecursionLimit());
    std::size_t used = static_cast<std::size_t>(std::max(recursion_depth(), 0));
    return used + kMargin + kFramesPerLevel * depth < limit;
}

}  // namespace

nb::object write_result(nb::handle module, nb::handle value) {
    nb::object pp = global(module, "pp");
    nb::object stream = plain_printer_stream(module, pp);
    ChunkedOutput takes = stream.is_valid() ? chunked_output(stream) : ChunkedOutput::none;
    LayoutPlan plan;
    if (takes == ChunkedOutput::none || !plan_layout(value, plan) ||
        (takes == ChunkedOutput::ascii && !plan.ascii) || !pprint_has_room(plan.depth)) {
        pp.attr("pprint")(value);
        return printer_stream(pp);
    }
    OutputSink sink(stream.attr("write"));
    write_layout(value, plan, sink);
    sink.ascii("\n");
    sink.finish();
    return stream;
}

}  // namespace harborsweep
