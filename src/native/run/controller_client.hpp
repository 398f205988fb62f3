// The controller client: the API endpoint, form POSTs and the login.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// "https://" + controller_ip + "/v1/api", with Python's `+` semantics (a
// controller address that is not text fails as the concatenation fails).
nb::object api_endpoint(nb::handle controller_ip);

// POSTs `fields` as a form body to `url` without certificate verification
// and returns the decoded JSON answer, whatever the HTTP status.
nb::object post_form(nb::handle module, nb::handle url, nb::handle fields);

// Logs in and returns the session id ("CID" of the answer). Prints "Login
// failed" and raises SystemExit(1) when the answer carries no session id.
nb::object get_quorvane_cid(nb::handle module, nb::handle controller_ip, nb::handle username,
                            nb::handle password);

}  // namespace harborsweep
