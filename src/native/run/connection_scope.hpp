// How long connections to the controller live: as long as the outermost call
// of an operation that sends requests. A call made from outside the module
// opens a scope; the calls it makes through the module's globals (its login,
// each check, nested checks) run inside it and share what it keeps. The scope
// closes what it kept when that outermost call returns or raises, so nothing
// stays open between one call from outside and the next.
//
// The open scope is held in a context variable of the module, so that it
// belongs to the running thread, or to the running greenlet or task where
// one runs several calls on one thread.
#pragma once

#include <nanobind/nanobind.h>

#include "bridge/python_support.hpp"

namespace nb = nanobind;

namespace harborsweep {

class ConnectionScope {
public:
    // Opens a scope in the current context, or joins the one that is open.
    explicit ConnectionScope(nb::handle module);
    ~ConnectionScope();
    ConnectionScope(const ConnectionScope &) = delete;
    ConnectionScope &operator=(const ConnectionScope &) = delete;

    // A scope that opened closes what it kept (its close()), leaving the
    // context as it found it; one that joined leaves that to the one it
    // joined.
    void close();

private:
    void leave() noexcept;
    nb::handle variable_;
    nb::object kept_;   // the list of what the scope keeps; null when joined
    nb::object token_;  // resets the context variable; null when joined or left
};

// What the current context's open scope keeps (an object with a close()
// method), or an invalid handle when it keeps nothing yet or none is open.
nb::handle kept_connections(nb::handle module);

// Keeps `connections` in the current context's open scope, which closes
// them with itself. RuntimeError when no scope is open.
void keep_connections(nb::handle module, nb::object connections);

// Runs `body` in a connection scope: one that opened closes its connections
// once `body` has returned or raised (SystemExit and KeyboardInterrupt
// included), and a failure to close them never hides the error of `body`.
template <typename Body>
nb::object with_connection_scope(nb::handle module, Body &&body) {
    ConnectionScope scope(module);
    return then_clean_up(body, [&] { scope.close(); });
}

}  // namespace harborsweep
