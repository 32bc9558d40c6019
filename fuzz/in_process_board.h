// The fuzz targets' board: the tool's code in-process, its node and proc file served in memory
// (fuzz/README.md tells how).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

struct board {
    uint8_t fault = 0;                      // the node's fault: none when even (fuzz/README.md)
    std::optional<std::string> reply;       // served instead of the driver's status
    std::optional<std::string> proc;        // "/proc/lampstat"; missing when unset
    std::optional<size_t> proc_error_after; // a read of it fails with EIO beyond these bytes
};

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

// Reports a broken property with the run's output and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, const run_result& finished);

} // namespace fuzz
