// The chain of running check files. A chained check runs its referenced check
// first; a reference back into the chain would log in and recurse until the
// interpreter gives up, so it is refused before anything further is sent.
// Files are compared by real path and named by their base name.
#include "run/check_chain.hpp"

#include "bridge/module_globals.hpp"

namespace harborsweep {
namespace {

struct ChainLink {
    std::string real_path;  // file-system encoding, as os.fsencode gives it
    std::string name;       // UTF-8, for the message
};

// Per thread, since the chain is a property of the nested calls on one
// stack; holds no Python objects.
thread_local std::vector<ChainLink> running;

std::string to_string(nb::handle bytes) {
    char *data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) < 0)
        nb::raise_python_error();
    return std::string(data, static_cast<size_t>(size));
}

ChainLink link_for(nb::handle module, nb::handle path) {
    nb::object os = global(module, "os");
    nb::object real_path = os.attr("path").attr("realpath")(path);
    nb::object name = os.attr("path").attr("basename")(os.attr("fsdecode")(path));
    nb::object utf8 = nb::steal(PyUnicode_AsEncodedString(name.ptr(), "utf-8", "backslashreplace"));
    if (!utf8.is_valid())
        nb::raise_python_error();
    return {to_string(os.attr("fsencode")(real_path)), to_string(utf8)};
}

}  // namespace

RunningCheck::RunningCheck(nb::handle module, nb::handle path) {
    running.push_back(link_for(module, path));
}

RunningCheck::~RunningCheck() { running.pop_back(); }

void refuse_cycle(nb::handle module, nb::handle path) {
    ChainLink next = link_for(module, path);
    size_t start = 0;
    while (start < running.size() && running[start].real_path != next.real_path)
        ++start;
    if (start == running.size())
        return;
    std::string chain;
    for (size_t i = 0; i < running.size(); ++i)
        chain += running[i].name + " -> ";
    chain += next.name;
    PyErr_Format(PyExc_RecursionError, "output reference cycle: %s", chain.c_str());
    nb::raise_python_error();
}

}  // namespace harborsweep
