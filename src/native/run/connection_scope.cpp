// The connection scope of the outermost call on each thread. Scopes nest on
// one thread's stack, so the open one is found through a per-thread pointer
// to the outermost; what it keeps is owned by that stack object and released
// when the call ends.
#include "run/connection_scope.hpp"

namespace harborsweep {
namespace {

thread_local ConnectionScope *outermost_scope = nullptr;

}  // namespace

ConnectionScope::ConnectionScope() : outermost_(outermost_scope == nullptr) {
    if (outermost_)
        outermost_scope = this;
}

ConnectionScope::~ConnectionScope() {
    if (outermost_)
        outermost_scope = nullptr;
}

void ConnectionScope::close() {
    if (!outermost_ || !kept_.is_valid())
        return;
    // Dropped before its close() runs: a close that fails leaves nothing kept.
    nb::object kept = std::move(kept_);
    kept.attr("close")();
}

nb::handle kept_connections() {
    return outermost_scope ? nb::handle(outermost_scope->kept_) : nb::handle();
}

void keep_connections(nb::object connections) {
    if (!outermost_scope) {
        PyErr_SetString(PyExc_RuntimeError, "no connection scope is open to keep connections in");
        nb::raise_python_error();
    }
    outermost_scope->kept_ = std::move(connections);
}

}  // namespace harborsweep
