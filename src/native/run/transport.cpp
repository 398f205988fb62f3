// The transport. `requests.post(..., verify=False)` builds a fresh TLS
// context for every connection and loads the whole system CA store into it,
// only to never use it; that costs far more than the handshake. This path
// sends the same request through a fresh `requests` session, as
// `requests.post` does (same body, headers, proxies from the environment, no
// cookies kept, a new connection), whose HTTPS adapter hands urllib3 one
// no-verification context made on first use and kept by the module.
#include "run/transport.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/module_state.hpp"
#include "bridge/python_support.hpp"

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

nb::object make_adapter_class(nb::handle module, nb::handle requests) {
    nb::object base = requests.attr("adapters").attr("HTTPAdapter");
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

// The adapter class, made on first use; None when this requests has no pool
// key hook to extend (then every request takes requests.post).
nb::handle adapter_class(nb::handle module, nb::handle requests) {
    ModuleState &state = module_state(module.ptr());
    if (!state.adapter_class) {
        nb::object base = requests.attr("adapters").attr("HTTPAdapter");
        nb::object made = nb::hasattr(base, "build_connection_pool_key_attributes")
                              ? make_adapter_class(module, requests)
                              : nb::none();
        state.adapter_class = made.release().ptr();
    }
    return state.adapter_class;
}

nb::object post_in_session(nb::handle requests, nb::handle adapter, nb::handle url,
                           nb::handle fields) {
    nb::object session = requests.attr("sessions").attr("Session")();
    return use_then_close(session, [&] {
        session.attr("mount")("https://", adapter());
        return session.attr("request")(nb::arg("method") = "post", nb::arg("url") = url,
                                       nb::arg("data") = fields, nb::arg("json") = nb::none(),
                                       nb::arg("verify") = false);
    });
}

}  // namespace

nb::object post_unverified(nb::handle module, nb::handle url, nb::handle fields) {
    nb::object requests = global(module, "requests");
    nb::object post = requests.attr("post");
    if (post.ptr() == module_state(module.ptr()).original_post) {
        nb::handle adapter = adapter_class(module, requests);
        if (!adapter.is_none())
            return post_in_session(requests, adapter, url, fields);
    }
    return post(url, nb::arg("data") = fields, nb::arg("verify") = false);
}

}  // namespace harborsweep
