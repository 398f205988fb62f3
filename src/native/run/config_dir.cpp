// The default configuration directory, worked out afresh on every call with
// the module's own `os.path`, so the path is joined and tested exactly as the
// platform's path rules have it (not made absolute, links not resolved).
#include "run/config_dir.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/python_support.hpp"

namespace harborsweep {

nb::object get_default_config_dir(nb::handle module) {
    nb::object module_file = global(module, "__file__");
    nb::object path = global(module, "os").attr("path");
    nb::object config_path = path.attr("join")(path.attr("dirname")(module_file), "config");
    if (truthy(path.attr("isdir")(config_path)))
        return config_path;
    nb::object message = nb::steal(
        PyUnicode_FromFormat("Default config directory not found: %S", config_path.ptr()));
    if (message.is_valid())
        PyErr_SetObject(PyExc_FileNotFoundError, message.ptr());
    nb::raise_python_error();
}

}  // namespace harborsweep
