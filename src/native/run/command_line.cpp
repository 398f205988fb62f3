// The command entry `main`. Options are parsed by the standard argparse, the
// prompts use the builtin input and getpass, and every check file of the
// configuration directory is run in the order the directory listing gives,
// printing its description, its result and two empty lines.
#include "run/command_line.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/python_support.hpp"
#include "layout/result_writer.hpp"
#include "run/check_file.hpp"
#include "run/error_notes.hpp"
#include "run/standard_output.hpp"

namespace harborsweep {
namespace {

struct OptionHelp {
    const char *flag, *help;
};

constexpr OptionHelp kOptions[] = {
    {"--controller_ip",
     "Quorvane Controller IP. User will be prompted to enter the IP if not specified."},
    {"--username", "Quorvane Controller Username. Defaults to \"admin\" if not specified."},
    {"--password",
     "Quorvane Controller Password. User will be prompted to enter the password if not specfied."},
    {"--config_dir", "Configuration Directory. Defaults to \"config\" if not specified."},
};

nb::object parse_options(nb::handle module) {
    nb::object parser =
        global(module, "argparse")
            .attr("ArgumentParser")(nb::arg("description") = "Harborsweep Automation");
    for (const OptionHelp &option : kOptions)
        parser.attr("add_argument")(option.flag, nb::arg("help") = option.help);
    return parser.attr("parse_args")();
}

struct RunSettings {
    nb::object controller_ip, username, password, config_dir;
};

// An option counts only when its value is non-empty text.
nb::object given(nb::handle options, const char *name) {
    nb::object value = options.attr(name);
    return truthy(value) ? value : nb::object();
}

RunSettings settle(nb::handle module, nb::handle options) {
    RunSettings run;
    run.controller_ip = given(options, "controller_ip");
    if (!run.controller_ip.is_valid())
        run.controller_ip = global(module, "input")("Enter Quorvane Controller IP: ");
    run.username = given(options, "username");
    if (!run.username.is_valid())
        run.username = nb::str("admin");
    run.password = given(options, "password");
    if (!run.password.is_valid())
        run.password =
            global(module, "getpass")
                .attr("getpass")(nb::arg("prompt") = "Enter Quorvane Controller Password: ");
    run.config_dir = given(options, "config_dir");
    if (!run.config_dir.is_valid())
        run.config_dir = global(module, "get_default_config_dir")();
    return run;
}

// A description that is missing, can't be interpolated or can't be printed
// is left out; the check still runs.
void print_description(nb::handle module, nb::handle filepath) {
    nb::object config = read_check_file(module, filepath);
    ran_without_exception(
        [&] { global(module, "print")(config.attr("get")("default", "description")); });
}

// What a check printed reaches the operating system before the next request
// waits on the controller, so a run ended from outside keeps it.
void run_check(nb::handle module, const RunSettings &run, nb::handle filepath) {
    print_description(module, filepath);
    flush_standard_output(module);
    nb::object result = global(module, "quorvane_api")(run.controller_ip, run.username,
                                                       run.password, run.config_dir, filepath);
    nb::object result_stream = write_result(module, result);
    global(module, "print")("\n");
    flush_standard_output(module, result_stream);
}

}  // namespace

nb::object main(nb::handle module) {
    nb::object options = parse_options(module);
    RunSettings run = settle(module, options);
    global(module, "get_quorvane_cid")(run.controller_ip, run.username, run.password);
    nb::object os = global(module, "os");
    for (nb::handle name : os.attr("listdir")(run.config_dir)) {
        if (!truthy(name.attr("endswith")(".cfg")))
            continue;
        nb::object filepath = os.attr("path").attr("join")(run.config_dir, name);
        with_error_note([&] { run_check(module, run, filepath); },
                        [&] { return check_file_note(name); });
    }
    return nb::none();
}

}  // namespace harborsweep
