// Check files. The dialect is the standard configparser's, called through the
// module globals; this file adds the two readings the tool gives values of
// its own: the filter path and output references.
#include "run/check_file.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/python_support.hpp"

namespace harborsweep {

nb::object read_check_file(nb::handle module, nb::handle path) {
    nb::object config = global(module, "configparser").attr("ConfigParser")();
    nb::object file = global(module, "open")(path);
    use_then_close(file, [&] { return config.attr("read_file")(file); });
    return config;
}

static nb::object split_filter_path(nb::handle config) {
    nb::object text = config.attr("get")("default", "filters");
    nb::list steps;
    for (nb::handle piece : text.attr("split")(","))
        steps.append(piece.attr("strip")());
    return steps;
}

nb::object read_filter_path(nb::handle config) {
    nb::object steps = nb::list();
    ran_without_exception([&] { steps = split_filter_path(config); });
    return steps;
}

nb::object output_reference(nb::handle value) {
    if (!PyUnicode_Check(value.ptr()))
        return {};
    PyObject *text = value.ptr();
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    nb::str prefix("output("), suffix(")");
    const Py_ssize_t starts = PyUnicode_Tailmatch(text, prefix.ptr(), 0, length, -1);
    const Py_ssize_t ends = PyUnicode_Tailmatch(text, suffix.ptr(), 0, length, 1);
    if (starts < 0 || ends < 0)
        nb::raise_python_error();
    if (!starts || !ends)
        return {};
    nb::object name = nb::steal(PyUnicode_Substring(text, 7, length - 1));
    if (!name.is_valid())
        nb::raise_python_error();
    return name;
}

}  // namespace harborsweep
