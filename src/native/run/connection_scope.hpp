// How long connections to the controller live: as long as the outermost call
// of an operation that sends requests. A call made from outside the module
// opens a scope; the calls it makes through the module's globals (its login,
// each check, nested checks) run inside it and share what it keeps. The scope
// closes what it kept when that outermost call returns or raises, so nothing
// stays open between one call from outside and the next.
#pragma once

#include <nanobind/nanobind.h>

#include "bridge/python_support.hpp"

namespace nb = nanobind;

namespace harborsweep {

class ConnectionScope {
public:
    // Opens the scope of this thread's outermost call, or joins the one that
    // is open.
    ConnectionScope();
    ~ConnectionScope();
    ConnectionScope(const ConnectionScope &) = delete;
    ConnectionScope &operator=(const ConnectionScope &) = delete;

    // The outermost scope closes what it keeps (its close()) and drops it; a
    // scope that joined another leaves it to that one.
    void close();

private:
    friend nb::handle kept_connections();
    friend void keep_connections(nb::object connections);
    bool outermost_;
    nb::object kept_;
};

// What this thread's open scope keeps (an object with a close() method), or
// an invalid handle when it keeps nothing yet.
nb::handle kept_connections();

// Keeps `connections` in this thread's open scope, which closes them with
// itself. RuntimeError when no scope is open.
void keep_connections(nb::object connections);

// Runs `body` in a connection scope: the outermost one closes its connections
// once `body` has returned or raised (SystemExit and KeyboardInterrupt
// included), and a failure to close them never hides the error of `body`.
template <typename Body>
nb::object with_connection_scope(Body &&body) {
    ConnectionScope scope;
    return then_clean_up(body, [&] { scope.close(); });
}

}  // namespace harborsweep
