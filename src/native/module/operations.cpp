// The module's five operations as the interpreter calls them: each entry
// binds its arguments by position or by name, then runs the operation with
// the module itself as its globals. The three that talk to the controller run
// in a connection scope: called from outside the module, the call keeps its
// connections until it returns; called from inside one, it shares them.
#include "module/operations.hpp"

#include <array>

#include "bridge/module_functions.hpp"
#include "bridge/python_support.hpp"
#include "filter/filter.hpp"
#include "module/argument_binding.hpp"
#include "run/check_run.hpp"
#include "run/command_line.hpp"
#include "run/config_dir.hpp"
#include "run/connection_scope.hpp"
#include "run/controller_client.hpp"

namespace harborsweep {
namespace {

constexpr std::array<const char *, 3> kLoginParameters{"controller_ip", "username", "password"};
constexpr std::array<const char *, 2> kFilterParameters{"results", "filters"};
constexpr std::array<const char *, 5> kCheckParameters{"controller_ip", "username", "password",
                                                       "config_dir", "config_file"};

// Binds the call's arguments to `Parameters`, then runs `body` with them.
template <const auto &Parameters, typename Body>
PyObject *bound_call(const char *operation, PyObject *const *args, Py_ssize_t nargs,
                     PyObject *kwnames, Body &&body) {
    std::array<PyObject *, Parameters.size()> bound;
    if (!bind_arguments(operation, Parameters, args, nargs, kwnames, bound))
        return nullptr;
    return run_guarded([&] { return body(bound); });
}

PyObject *get_quorvane_cid_entry(PyObject *module, PyObject *const *args, Py_ssize_t nargs,
                                 PyObject *kwnames) {
    return bound_call<kLoginParameters>("get_quorvane_cid", args, nargs, kwnames, [&](auto &a) {
        return with_connection_scope(module,
                                     [&] { return get_quorvane_cid(module, a[0], a[1], a[2]); });
    });
}

PyObject *filter_results_entry(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                               PyObject *kwnames) {
    return bound_call<kFilterParameters>("filter_results", args, nargs, kwnames,
                                         [](auto &a) { return filter_results(a[0], a[1]); });
}

PyObject *quorvane_api_entry(PyObject *module, PyObject *const *args, Py_ssize_t nargs,
                             PyObject *kwnames) {
    return bound_call<kCheckParameters>("quorvane_api", args, nargs, kwnames, [&](auto &a) {
        return with_connection_scope(module, [&] {
            return quorvane_api(module, CheckArguments{a[0], a[1], a[2], a[3], a[4]});
        });
    });
}

PyObject *get_default_config_dir_entry(PyObject *module, PyObject *const *, Py_ssize_t nargs,
                                       PyObject *kwnames) {
    if (!refuse_arguments("get_default_config_dir", nargs, kwnames))
        return nullptr;
    return run_guarded([&] { return get_default_config_dir(module); });
}

PyObject *main_entry(PyObject *module, PyObject *const *, Py_ssize_t nargs, PyObject *kwnames) {
    if (!refuse_arguments("main", nargs, kwnames))
        return nullptr;
    return run_guarded([&] { return with_connection_scope(module, [&] { return main(module); }); });
}

template <auto Entry>
constexpr PyCFunction fast_call() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry));
}

constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

// Defined in this order. The docstrings open with a text signature, so
// help() and inspect.signature() show the real parameter names.
PyMethodDef kOperations[] = {
    {"get_quorvane_cid", fast_call<get_quorvane_cid_entry>(), kFastCall,
     "get_quorvane_cid($module, controller_ip, username, password)\n--\n\n"
     "Log in to the controller and return its session id (CID). Prints\n"
     "\"Login failed\" and exits with status 1 when the login is refused."},
    {"filter_results", fast_call<filter_results_entry>(), kFastCall,
     "filter_results($module, results, filters)\n--\n\n"
     "Narrow the JSON value `results` by the filter path `filters`, a list of\n"
     "steps; each step is one key or several keys joined by \"&\"."},
    {"quorvane_api", fast_call<quorvane_api_entry>(), kFastCall,
     "quorvane_api($module, controller_ip, username, password, config_dir, config_file)\n--\n\n"
     "Run the check file `config_file` against the controller and return its\n"
     "narrowed result; output references resolve against `config_dir`."},
    {"get_default_config_dir", fast_call<get_default_config_dir_entry>(), kFastCall,
     "get_default_config_dir($module)\n--\n\n"
     "Return the directory \"config\" beside this module; FileNotFoundError\n"
     "when it does not exist."},
    {"main", fast_call<main_entry>(), kFastCall,
     "main($module)\n--\n\n"
     "Run the harborsweep command with the process arguments."},
};

}  // namespace

void define_operations(nb::handle module) { define_functions(module, kOperations); }

}  // namespace harborsweep
