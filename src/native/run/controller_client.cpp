// The controller client. Every request is one form POST to the single API
// endpoint, certificate unverified, sent by the transport. The answer is decoded
// as JSON whatever its status; the login answer is the only one whose
// decoding failure is caught.
#include "run/controller_client.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/python_support.hpp"
#include "run/standard_output.hpp"
#include "run/transport.hpp"

namespace harborsweep {

static nb::object add(nb::handle left, nb::handle right) {
    nb::object sum = nb::steal(PyNumber_Add(left.ptr(), right.ptr()));
    if (!sum.is_valid())
        nb::raise_python_error();
    return sum;
}

nb::object api_endpoint(nb::handle controller_ip) {
    return add(add(nb::str("https://"), controller_ip), nb::str("/v1/api"));
}

static nb::object post(nb::handle module, nb::handle url, nb::handle fields) {
    return post_unverified(module, url, fields);
}

nb::object post_form(nb::handle module, nb::handle url, nb::handle fields) {
    return post(module, url, fields).attr("json")();
}

static nb::object session_id(nb::handle response) {
    nb::object answer = response.attr("json")();
    nb::object cid = nb::steal(PyObject_GetItem(answer.ptr(), nb::str("CID").ptr()));
    if (!cid.is_valid())
        nb::raise_python_error();
    return cid;
}

nb::object get_quorvane_cid(nb::handle module, nb::handle controller_ip, nb::handle username,
                            nb::handle password) {
    nb::object url = api_endpoint(controller_ip);
    nb::dict login;
    login["action"] = "login";
    login["username"] = username;
    login["password"] = password;
    nb::object response = post(module, url, login);
    nb::object cid;
    if (ran_without_exception([&] { cid = session_id(response); }))
        return cid;
    // A refused login is a failed run: exit status 1, with no traceback.
    global(module, "print")("Login failed");
    flush_standard_output(module);
    global(module, "sys").attr("exit")(1);
    PyErr_SetString(PyExc_RuntimeError, "sys.exit() returned after a failed login");
    nb::raise_python_error();
}

}  // namespace harborsweep
