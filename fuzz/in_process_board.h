// The in-process board of the fuzz targets: an adapter that brings the tool's
// calls on its two paths to the driver model.
//
// The targets are linked with -Wl,--wrap for the libc calls the tool makes on
// "/dev/hornio" and "/proc/lampstat" (open, fopen, read, write, ioctl, close,
// fstat). The wrappers serve both from the state below and pass every other
// call on to libc, so the tool's code runs unchanged and never reaches a real
// device. end_run is replaced too: it records the status and jumps back into
// the target instead of ending the process.
#pragma once

#include "driver_model/hornio_model.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

struct board_state {
    // "/proc/lampstat": absent, or served from these bytes, failing with
    // EIO once proc_error_after bytes have been read when proc_error is set.
    bool proc_present = false;
    std::string proc_text;
    bool proc_error = false;
    size_t proc_error_after = 0;

    // "/dev/hornio": the driver model, its faults, a node that opens but is
    // not a character device, and a reply of the target's instead of the
    // model's status.
    hornio_model model{};
    hornio_faults faults{};
    bool not_a_device = false;
    bool own_reply = false;
    std::string reply;

    // What the tool did.
    int opens = 0;
    int closes = 0;
    int operations = 0;     // writes, reads and requests
    long driver_result = 0; // of the last of them
    std::string written;    // bytes of the last write
    unsigned long request_number = 0;
    int32_t request_word = 0;
};

// The board of the current run; reset by start_run.
board_state& board();

// Result of running a piece of the tool to its end.
struct run_result {
    int status = -1; // the status end_run was called with; -1 if it returned
    std::string out; // what it wrote on standard output
    std::string err; // what it wrote on standard error
};

// Resets the board to a fresh state (keeping nothing of the previous run)
// and captures standard output and standard error until finish_run.
void start_run();

// Runs a front end, which ends through end_run, and returns its status.
int run_front_end(void (*front_end)(int, char**), int argc, char** argv);

// Stops capturing and returns what was written and the status.
run_result finish_run(int status);

// One whole run of a front end on input of at least one byte: its first byte chooses the node's
// fault, the rest are the arguments (argv[0] "hornset", then one per NUL-separated piece of the
// bytes); getopt starts afresh.
run_result run_on_input(void (*front_end)(int, char**), const uint8_t* data, size_t size);

// Reports, as fail does, a run without what every run of a front end has whatever its
// arguments: a status of 0 or 1, at most one open and one operation, no close without an open.
void check_run(const run_result& result);

inline bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Reports a broken expectation of a target (with the run's output, when
// given) and aborts, so that libFuzzer records the input as a crash.
[[noreturn]] void fail(const char* what, const run_result* result);

} // namespace fuzz
