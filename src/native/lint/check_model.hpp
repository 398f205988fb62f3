// One check file as the run sees it: read and parsed, then what the run
// takes from it: the description it prints, the filter steps, the request
// fields in the order they are sent, and the output reference it follows.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <vector>

#include "lint/check_paths.hpp"
#include "lint/file_bytes.hpp"
#include "lint/ini_file.hpp"
#include "lint/interpolation.hpp"

namespace harborsweep::lint {

struct RequestField {
    const IniOption *option;  // in [quorvane], or in [DEFAULT]
    Interpolated value;
    bool from_defaults = false;
    bool is_reference = false;  // starts with "output(" and ends with ")"
};

struct OutputReference {
    size_t field = 0;         // which of the fields
    Text name;                // between "output(" and ")"
    std::string target;       // os.path.join(config dir, name), file-system bytes
};

// Moved, never copied: its fields point into its own file's options.
struct CheckModel {
    CheckModel() = default;
    CheckModel(CheckModel &&) = default;
    CheckModel &operator=(CheckModel &&) = default;
    CheckModel(const CheckModel &) = delete;

    std::string path;        // file-system bytes, as the run opens it
    std::string config_dir;  // against which its references resolve
    std::optional<ReadFailure> read_failure;
    bool not_regular = false;
    uint64_t too_large = 0;  // the size of a file too large to read; 0 otherwise
    std::optional<DecodeFailure> decode_failure;
    IniFile ini;

    const IniSection *default_section = nullptr;   // [default]
    const IniSection *quorvane = nullptr;          // [quorvane]
    std::optional<Interpolated> description;       // absent: nothing to print
    std::optional<Interpolated> filters;           // absent: no filters option
    std::vector<Text> filter_steps;                // as the run splits them
    std::vector<RequestField> fields;              // after "CID", in order
    std::optional<OutputReference> reference;      // the last one: the one followed

    bool readable() const { return !read_failure && !not_regular && !too_large; }
};

// Reads `path` and works out what the run takes from it.
CheckModel model_check(const std::string &path, const std::string &config_dir,
                       const Decoding &decoding);

bool is_output_reference(TextView value);

}  // namespace harborsweep::lint
