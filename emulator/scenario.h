// The scenario directory named by HORNEMU_DIR: its configuration (board.conf) and its files.
#pragma once

#include "driver_model/hornio_model.h"

#include <cstddef>
#include <sys/types.h>

namespace hornemu {

constexpr size_t path_max = 4096;

// What stands at "/dev/hornio": the emulated driver's character device, or a regular file or a
// FIFO left in its place.
enum class node_type { device, regular, fifo };

// What board.conf says about the board.
struct board_config {
    int lampstat_errno; // opening "/proc/lampstat" fails with this errno (0: it does not)
    bool node_absent;
    node_type node;
    hornio_faults faults; // of the node's open (an errno only), write, read and requests
};

// The scenario directory, or nullptr when HORNEMU_DIR is unset and everything passes through.
// The variable is read once, when the library is loaded: the process id is then appended to
// the scenario's "loaded" (hornemu's proof that the library is in the program it started), and
// board.conf is parsed, a broken one ending the process.
const char* scenario_dir();

const board_config& config();

// "DIR/NAME" of a file in the scenario directory, in buffer.
const char* scenario_path(char (&buffer)[path_max], const char* name);

// Reads a scenario file into buffer: its length, or -1 when it does not exist. Any other
// failure ends the process, as does a file larger than size unless only its start is wanted.
ssize_t read_scenario_file(const char* name, char* buffer, size_t size, bool whole = true);

// A scenario file written whole and then renamed over another (so that no one reads it half
// written): start_scenario_file empties it, append_scenario_file writes it, and
// rename_scenario_file puts it in the other's place.
void start_scenario_file(const char* name);
void rename_scenario_file(const char* from, const char* to);

// Appends these bytes to a scenario file (created when missing) in one write where it can.
void append_scenario_file(const char* name, const char* bytes, size_t length);

// "hornemu: " and the parts on standard error, then exit status 125: the scenario is broken.
[[noreturn]] void fatal(const char* what, const char* detail = "", const char* more = "");

} // namespace hornemu
