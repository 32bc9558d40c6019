// The fuzz targets' board. The tool's code runs unchanged, linked with -Wl,--wrap for the libc
// calls it makes on "/dev/hornio" and "/proc/lampstat": the wrappers serve both in memory, the
// node through the driver model, and hand every other call to libc, so that no run reaches a
// real device. end_run is replaced too: it records the status and jumps back into run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

// The board a run meets.
struct board {
    // The node's fault, chosen by a byte of the input: an even byte means none; an odd one a
    // failed open, a node that is not a device, transfers of 0 bytes (a request returning 1) or
    // failures, with ENOENT, EACCES, EBUSY or EIO.
    uint8_t fault = 0;
    std::optional<std::string> reply;       // served instead of the driver's status
    std::optional<std::string> proc;        // "/proc/lampstat"; missing when unset
    std::optional<size_t> proc_error_after; // a read of it fails with EIO beyond these bytes
};

// What a run did.
struct run_result {
    int status = -1; // end_run's; -1 when the piece of the tool returned
    std::string out;
    std::string err;
    bool fault = false; // the node had a fault
    int opens = 0;
    int closes = 0;
    int operations = 0;        // writes, reads and requests
    bool served = false;       // the last of them transferred bytes, or its request succeeded
    size_t written = 0;        // the last write's count
    unsigned long request = 0; // the last request's number
};

// Runs piece (a front end or another part of the tool) on the board with the argument vector
// "hornset" and arguments, each in an allocation of its own; getopt starts afresh.
run_result run(const board& on, void (*piece)(int, char**),
               const std::vector<std::string>& arguments);

// Reports a broken expectation with the run's output and aborts, so that libFuzzer keeps the
// input.
[[noreturn]] void fail(const char* what, const run_result& finished);

} // namespace fuzz
