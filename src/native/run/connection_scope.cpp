// The connection scope of the outermost call. The module's context variable
// holds the open scope's list of what it keeps (empty until the first
// request); a scope that finds the variable unset opens one, and resets the
// variable when it ends, so the list lives only as long as that call.
#include "run/connection_scope.hpp"

#include "bridge/module_state.hpp"

namespace harborsweep {
namespace {

// The open scope's list, or null when none is open here.
nb::object open_scope(nb::handle variable) {
    PyObject *value = nullptr;
    if (PyContextVar_Get(variable.ptr(), nullptr, &value) < 0)
        nb::raise_python_error();
    return nb::steal(value);
}

}  // namespace

ConnectionScope::ConnectionScope(nb::handle module)
    : variable_(module_state(module.ptr()).connection_scope) {
    if (open_scope(variable_).is_valid())
        return;
    nb::object kept = nb::list();
    token_ = nb::steal(PyContextVar_Set(variable_.ptr(), kept.ptr()));
    if (!token_.is_valid())
        nb::raise_python_error();
    kept_ = std::move(kept);
}

ConnectionScope::~ConnectionScope() { leave(); }

// Resets the context variable once; an error on the way out stays as it was.
void ConnectionScope::leave() noexcept {
    if (!token_.is_valid())
        return;
    nb::object token = std::move(token_);
    nb::error_scope saved;
    if (PyContextVar_Reset(variable_.ptr(), token.ptr()) < 0)
        PyErr_WriteUnraisable(variable_.ptr());
}

void ConnectionScope::close() {
    if (!kept_.is_valid())
        return;
    leave();
    // Dropped before its close() runs: a close that fails leaves nothing
    // kept.
    nb::object kept = std::move(kept_);
    if (nb::len(kept))
        kept[0].attr("close")();
}

nb::handle kept_connections(nb::handle module) {
    nb::object kept = open_scope(module_state(module.ptr()).connection_scope);
    // The list stays alive as long as the scope that holds it.
    return kept.is_valid() && nb::len(kept) ? nb::handle(PyList_GET_ITEM(kept.ptr(), 0))
                                            : nb::handle();
}

void keep_connections(nb::handle module, nb::object connections) {
    nb::object kept = open_scope(module_state(module.ptr()).connection_scope);
    if (!kept.is_valid()) {
        PyErr_SetString(PyExc_RuntimeError, "no connection scope is open to keep connections in");
        nb::raise_python_error();
    }
    if (PyList_Append(kept.ptr(), connections.ptr()) < 0)
        nb::raise_python_error();
}

}  // namespace harborsweep
