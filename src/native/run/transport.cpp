// The transport. `requests.post(..., verify=False)` opens a new connection for
// every request, and builds a fresh TLS context for it that loads the whole
// system CA store, only to never use it. This path sends the same request
// through a fresh `requests` session, as `requests.post` does (same body,
// headers, proxies from the environment, no cookie kept from one request to
// the next), whose HTTPS adapter is kept for the running call: its pool holds
// the connection from one request to the next, and it hands urllib3 one
// no-verification context made on first use and kept by the module.
//
// The adapter retries nothing (requests' default), so no request is ever sent
// twice; urllib3 drops a pooled connection that the controller has closed
// before it sends on it, and a close that crosses a request fails that
// request, as in a requests.Session.
#include "run/transport.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/module_state.hpp"
#include "bridge/python_support.hpp"
#include "run/connection_scope.hpp"

namespace harborsweep {
namespace {

// self is (base adapter class, shared context). Runs the base class's
// build_connection_pool_key_attributes and, for unverified HTTPS, adds the
// shared context to the pool key so urllib3 uses it as it is.
PyObject *pool_key_attributes(PyObject *self, PyObject *args, PyObject *kwargs) {
    return run_guarded([&] {
        nb::handle base = PyTuple_GET_ITEM(self, 0), context = PyTuple_GET_ITEM(self, 1);
        nb::object method = base.attr("build_connection_pool_key_attributes");
        nb::object attributes = nb::steal(PyObject_Call(method.ptr(), args, kwargs));
        if (!attributes.is_valid())
            nb::raise_python_error();
        nb::object host = attributes[0], pool = attributes[1];
        if (nb::str("https").equal(host.attr("get")("scheme")) &&
            nb::str("CERT_NONE").equal(pool.attr("get")("cert_reqs")))
            pool["ssl_context"] = context;
        return attributes;
    });
}

PyMethodDef kPoolKeyAttributes = {
    "build_connection_pool_key_attributes",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pool_key_attributes)),
    METH_VARARGS | METH_KEYWORDS,
    "The base class's pool key, with the shared TLS context for unverified HTTPS.",
};

nb::object unverified_context(nb::handle requests) {
    nb::object ssl = nb::module_::import_("ssl");
    nb::object context =
        requests.attr("packages")
            .attr("urllib3")
            .attr("util")
            .attr("ssl_")
            .attr("create_urllib3_context")(nb::arg("cert_reqs") = ssl.attr("CERT_NONE"));
    context.attr("check_hostname") = false;
    context.attr("verify_mode") = ssl.attr("CERT_NONE");
    return context;
}

nb::object make_adapter_class(nb::handle module, nb::handle requests, nb::handle base) {
    nb::object bound = nb::make_tuple(base, unverified_context(requests));
    nb::object function = nb::steal(PyCFunction_NewEx(&kPoolKeyAttributes, bound.ptr(), nullptr));
    if (!function.is_valid())
        nb::raise_python_error();
    nb::object method = nb::steal(PyInstanceMethod_New(function.ptr()));
    if (!method.is_valid())
        nb::raise_python_error();
    nb::dict namespace_;
    namespace_["__module__"] = nb::borrow(module).attr("__name__");
    namespace_["__doc__"] = "HTTPS adapter sharing one no-verification TLS context.";
    namespace_["build_connection_pool_key_attributes"] = method;
    return nb::borrow(reinterpret_cast<PyObject *>(&PyType_Type))("UnverifiedHTTPSAdapter",
                                                                  nb::make_tuple(base), namespace_);
}

// The adapter class, made on first use from requests' own adapter. A
// requests without the pool key hook to extend gets its adapter as it is:
// the connection is still kept, and its context loads the CA store once.
nb::handle adapter_class(nb::handle module, nb::handle requests) {
    ModuleState &state = module_state(module.ptr());
    if (!state.adapter_class) {
        nb::handle base = state.original_adapter;
        nb::object made = nb::hasattr(base, "build_connection_pool_key_attributes")
                              ? make_adapter_class(module, requests, base)
                              : nb::borrow(base);
        state.adapter_class = made.release().ptr();
    }
    return state.adapter_class;
}

// Whether requests.post would build the request from requests' own objects:
// then the kept connection serves it. A replaced post, request function,
// session class or adapter class is the caller's to see every request, so
// requests.post is called as it is, one session and connection per request.
bool requests_unchanged(nb::handle module, nb::handle requests, nb::handle post) {
    const ModuleState &state = module_state(module.ptr());
    if (post.ptr() != state.original_post)
        return false;
    nb::object api = requests.attr("api"), sessions = requests.attr("sessions");
    return nb::object(api.attr("request")).ptr() == state.original_request &&
           nb::object(sessions.attr("Session")).ptr() == state.original_session &&
           nb::object(sessions.attr("HTTPAdapter")).ptr() == state.original_adapter;
}

// The running call's adapter, made with its first request.
nb::handle kept_adapter(nb::handle module, nb::handle requests) {
    if (!kept_connections(module).is_valid())
        keep_connections(module, adapter_class(module, requests)());
    return kept_connections(module);
}

// The session is the request's own; the kept adapter serves it, and is
// unmounted before the session closes, which would close it and its
// connection.
nb::object post_in_session(nb::handle requests, nb::handle adapter, nb::handle url,
                           nb::handle fields) {
    nb::object session = requests.attr("sessions").attr("Session")();
    return use_then_close(session, [&] {
        session.attr("mount")("https://", adapter);
        return then_clean_up(
            [&] {
                return session.attr("request")(
                    nb::arg("method") = "post", nb::arg("url") = url, nb::arg("data") = fields,
                    nb::arg("json") = nb::none(), nb::arg("verify") = false);
            },
            [&] {
                nb::object adapters = session.attr("adapters");
                if (adapters.attr("get")("https://").is(adapter))
                    nb::del(adapters["https://"]);
            });
    });
}

}  // namespace

nb::object post_unverified(nb::handle module, nb::handle url, nb::handle fields) {
    nb::object requests = global(module, "requests");
    nb::object post = requests.attr("post");
    if (!requests_unchanged(module, requests, post))
        return post(url, nb::arg("data") = fields, nb::arg("verify") = false);
    // Called within an operation's scope, this joins it; called outside any,
    // it keeps the connection for this one request.
    return with_connection_scope(module, [&] {
        return post_in_session(requests, kept_adapter(module, requests), url, fields);
    });
}

}  // namespace harborsweep
