// Running a check file: log in, build the request fields ("CID" first, then
// the [quorvane] options in order), send them, and narrow the answer by the
// check's filter path. A field holding an output reference makes a chained
// run: the referenced check runs first (a nested call of the module's own
// quorvane_api), then one request goes out per element of its result.
#include "run/check_run.hpp"

#include "bridge/module_globals.hpp"
#include "run/check_chain.hpp"
#include "run/check_file.hpp"
#include "run/controller_client.hpp"
#include "run/error_notes.hpp"

namespace harborsweep {
namespace {

// What the [quorvane] options hold; the last output reference wins.
struct RequestPlan {
    nb::dict fields;
    nb::object compound_option;    // field to vary, or null
    nb::object compound_name;      // the reference as written: output(NAME)
    nb::object compound_filepath;  // referenced check file
};

RequestPlan plan_request(nb::handle module, nb::handle config, nb::handle config_dir,
                         nb::handle cid) {
    RequestPlan plan;
    plan.fields["CID"] = cid;
    for (nb::handle option : config.attr("options")("quorvane")) {
        nb::object value = config.attr("get")("quorvane", option);
        plan.fields[option] = value;
        if (nb::object name = output_reference(value)) {
            plan.compound_option = nb::borrow(option);
            plan.compound_name = name;
            plan.compound_filepath =
                global(module, "os").attr("path").attr("join")(config_dir, name);
        }
    }
    return plan;
}

// The elements a chained check sends: a text is one element (not one per
// character); anything else is iterated as Python iterates it, so None,
// numbers and booleans fail with TypeError before any request goes out.
nb::object elements_of(nb::handle nested) {
    if (PyUnicode_Check(nested.ptr())) {
        nb::list single;
        single.append(nested);
        return single;
    }
    nb::object iterator = nb::steal(PyObject_GetIter(nested.ptr()));
    if (!iterator.is_valid())
        nb::raise_python_error();
    return iterator;
}

// The check holding a reference is named by its base name, as the cycle
// message names it.
nb::object base_name(nb::handle module, nb::handle config_file) {
    nb::object os = global(module, "os");
    return os.attr("path").attr("basename")(os.attr("fsdecode")(config_file));
}

nb::object run_chained(nb::handle module, const CheckArguments &check, RequestPlan &plan,
                       nb::handle url, nb::handle filters) {
    refuse_cycle(module, plan.compound_filepath);
    nb::object nested = with_error_note(
        [&] {
            return global(module, "quorvane_api")(check.controller_ip, check.username,
                                                  check.password, check.config_dir,
                                                  plan.compound_filepath);
        },
        [&] { return reference_note(plan.compound_name, base_name(module, check.config_file)); });
    nb::list compound;
    for (nb::handle element : elements_of(nested)) {
        plan.fields[plan.compound_option] = element;
        nb::object answer = post_form(module, url, plan.fields);
        nb::dict entry;
        entry["object"] = element;
        entry["results"] = global(module, "filter_results")(answer, filters);
        compound.append(entry);
    }
    return compound;
}

}  // namespace

nb::object quorvane_api(nb::handle module, const CheckArguments &check) {
    nb::object url = api_endpoint(check.controller_ip);
    nb::object config = read_check_file(module, check.config_file);
    RunningCheck running(module, check.config_file);
    nb::object cid =
        global(module, "get_quorvane_cid")(check.controller_ip, check.username, check.password);
    nb::object filters = read_filter_path(config);
    RequestPlan plan = plan_request(module, config, check.config_dir, cid);
    if (plan.compound_option.is_valid())
        return run_chained(module, check, plan, url, filters);
    nb::object answer = post_form(module, url, plan.fields);
    return global(module, "filter_results")(answer, filters);
}

}  // namespace harborsweep
