// Module start-up of harborsweep.harborsweep: binds the standard modules and
// requests, creates the shared pretty printer `pp`, silences urllib3's
// warnings for the process, and defines the operations. Nothing else runs at
// import.
#include <nanobind/nanobind.h>

#include <array>

#include "bridge/module_state.hpp"
#include "layout/layout_hooks.hpp"
#include "layout/pprint_own.hpp"
#include "module/operations.hpp"

namespace nb = nanobind;

namespace {

constexpr std::array<const char *, 7> kBoundModules{
    "argparse", "configparser", "getpass", "os", "pprint", "sys", "requests",
};

void start_up(nb::handle module) {
    for (const char *name : kBoundModules)
        nb::setattr(module, name, nb::module_::import_(name));
    nb::object pprint = nb::getattr(module, "pprint");
    nb::setattr(module, "pp", pprint.attr("PrettyPrinter")(nb::arg("width") = 200));
    harborsweep::ModuleState &state = harborsweep::module_state(module.ptr());
    // pprint's functions as it defined them, so that the native layout, which
    // stands in for them, can tell when a caller has changed one.
    state.pprint_originals = harborsweep::pprint_originals(pprint).release().ptr();
    nb::object requests = nb::getattr(module, "requests");
    requests.attr("packages").attr("urllib3").attr("disable_warnings")();
    // requests' own post function, so that a caller's replacement of
    // requests.post, made before or after this import, can be recognised,
    // and what it builds each request with, whose replacement after this
    // import is recognised too.
    nb::object api = requests.attr("api"), sessions = requests.attr("sessions");
    state.original_post = nb::object(api.attr("post")).release().ptr();
    state.original_request = nb::object(api.attr("request")).release().ptr();
    state.original_session = nb::object(sessions.attr("Session")).release().ptr();
    state.original_adapter = nb::object(sessions.attr("HTTPAdapter")).release().ptr();
    state.connection_scope = PyContextVar_New("harborsweep.connections", nullptr);
    if (!state.connection_scope)
        nb::raise_python_error();
    harborsweep::define_operations(module);
    harborsweep::define_layout_hooks(module);
}

// A hand-written exec slot rather than NB_MODULE: an import error during
// start-up (requests missing, say) must reach the importer as it is, not
// wrapped in another ImportError.
int exec_module(PyObject *module) {
    if (!nb::register_module(module))
        return -1;
    try {
        start_up(module);
        return 0;
    } catch (nb::python_error &error) {
        error.restore();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    }
    return -1;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "harborsweep",
    "Runs a directory of check files against a Quorvane Controller.",
    sizeof(harborsweep::ModuleState),
    nullptr,
    kSlots,
    harborsweep::traverse_module_state,
    harborsweep::clear_module_state,
    [](void *module) { harborsweep::clear_module_state(static_cast<PyObject *>(module)); },
};

}  // namespace

extern "C" NB_EXPORT PyObject *PyInit_harborsweep() { return PyModuleDef_Init(&kModule); }
