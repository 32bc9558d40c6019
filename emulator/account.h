// hornemu's account of a run: what the scenario's log and the node's file gained, in words.
#pragma once

#include <istream>
#include <string>

namespace hornemu {

struct log_summary {
    bool touched = false; // some record: either path was used
    bool reached = false; // a write, read or request reached the driver
};

// Tells each record of the log on standard error, "hornemu: PATH: " and what happened.
log_summary tell_log(std::istream& log);

// Tells what reached the node's file past the driver: size bytes, of which the first are
// shown.
void tell_node_file(long long size, const std::string& first_bytes);

} // namespace hornemu
