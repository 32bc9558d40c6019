// An in-process stand-in for the board, shared by the fuzz targets.
//
// The targets are linked with -Wl,--wrap for the libc calls the tool makes on
// its two paths (open, fopen, read, write, ioctl, close). The wrappers serve
// "/dev/hornio" and "/proc/lampstat" from the state below and pass every
// other call on to libc, so the tool's code runs unchanged and never reaches
// a real device. A write longer than the longest command the stand-in drivers
// take (emulator/command_limit.h) fails with EINVAL, as theirs do. end_run is
// replaced too: it records the status and jumps back into the target instead
// of ending the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fuzz {

// How the emulated driver answers one run.
enum class node_fault : uint8_t {
    none,          // every operation succeeds
    open_failed,   // open fails with errno_value
    not_a_device,  // open succeeds, but fstat shows a regular file, not a character device
    transfer_zero, // write and read transfer 0 bytes, a request returns 1
    transfer_error // write, read and requests return -1 with errno_value
};

struct board_state {
    // "/proc/lampstat": absent, or served from these bytes, failing with
    // EIO once proc_error_after bytes have been read when proc_error is set.
    bool proc_present = false;
    std::string proc_text;
    bool proc_error = false;
    size_t proc_error_after = 0;

    // "/dev/hornio"
    node_fault fault = node_fault::none;
    int errno_value = 0;
    std::string reply; // the status reply a read returns (up to its count)

    // What the tool did.
    int opens = 0;
    int closes = 0;
    int writes = 0;
    std::string written; // bytes of the last write
    int requests = 0;
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

// Sets the node's behaviour from one byte of the input: mostly success, else
// each fault with ENOENT, EACCES, EBUSY or EIO.
void choose_node_fault(uint8_t selector);

// An argument vector made from the input: argv[0] is "hornset", then one
// argument per NUL-separated piece of the bytes. Each argument has an
// allocation of its own, so a read past its end is caught. The vector is
// writable, as getopt permutes it.
class argument_vector {
  public:
    argument_vector(const uint8_t* data, size_t size);
    [[nodiscard]] int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }
    // The arguments as given (argv may be permuted after a run).
    [[nodiscard]] const std::vector<std::string>& given() const { return given_; }

  private:
    std::vector<std::unique_ptr<char[]>> storage_;
    std::vector<char*> pointers_;
    std::vector<std::string> given_;
};

// Resets the board to a fresh state (keeping nothing of the previous run)
// and captures standard output and standard error until finish_run.
void start_run();

// Runs a front end, which ends through end_run, and returns its status.
int run_front_end(void (*front_end)(int, char**), int argc, char** argv);

// Stops capturing and returns what was written and the status.
run_result finish_run(int status);

// Reports a broken expectation of a target (with the run's output, when
// given) and aborts, so that libFuzzer records the input as a crash.
[[noreturn]] void fail(const char* what, const run_result* result);

} // namespace fuzz
