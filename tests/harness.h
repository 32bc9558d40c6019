// Runs the built hornset on the emulated board and captures what it did.
#pragma once

#include "hornio.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hornset_test {

// What the emulated board looks like for one run: the content of
// "/proc/lampstat" (none: the file does not exist), the driver's directives
// (faults, "node absent") and the status reply it gives instead of its own.
struct scenario {
    std::optional<std::string> lampstat;
    std::string board_conf;
    std::optional<std::string> reply;
};

extern const std::string qtr_pn_lampstat;
extern const std::string request_lampstat;

scenario qtr_pn(const std::string& board_conf = "");
scenario request_board(const std::string& board_conf = "");
scenario no_lampstat(const std::string& board_conf = "");
scenario with_lampstat(const std::string& lampstat);
scenario with_reply(const std::string& reply);

struct outcome {
    std::string out;
    std::string err;
    int status = -1;
    std::string log;    // the emulated board's log of every operation on its two paths
    std::string node;   // what reached the node's file past the driver (or, with "node
                        // regular", the regular file in its place): every case expects nothing
    std::string writes; // with streams::traced, strace's lines of every write and
                        // signal action hornset made
};

std::ostream& operator<<(std::ostream& stream, const outcome& result);

enum class output { captured, full_device, broken_pipe };

// Runs hornset with these arguments (argv[0] is "hornset") in a fresh
// scenario directory. With output::full_device its standard output is
// "/dev/full", with output::broken_pipe a pipe whose reader has gone, and
// outcome::out stays empty. environment adds NAME=VALUE
// entries to the few the run always has.
outcome run_hornset(const scenario& board, const std::vector<std::string>& args,
                    output stdout_to = output::captured,
                    const std::vector<std::string>& environment = {});

// The standard streams hornset starts with, as callers hand them over.
enum class buffering { standard, line, none }; // standard output's buffering (stdbuf -oL, -o0)

struct streams {
    std::vector<int> closed; // standard descriptors hornset starts without
    bool joined = false;     // standard error is standard output (2>&1): all in outcome::out
    output stdout_to = output::captured;
    buffering mode = buffering::standard;
    bool traced = false; // run under strace, recording writes and signal actions
    std::vector<std::string> environment = {}; // NAME=VALUE entries added to the few a run has
};

outcome run_hornset(const scenario& board, const std::vector<std::string>& args,
                    const streams& given);

// Whether hornset runs under a wrapper (valgrind), which needs standard error for itself.
bool runs_under_wrapper();

// Whether hornset's system calls can be traced (strace runs here, hornset is not wrapped).
bool writes_can_be_traced();

// Whether standard output's buffering can be chosen (stdbuf runs here, not under qemu-user).
bool buffering_can_be_chosen();

// One run of each device operation, as the tables use them: a command write
// (with its trace line), a status read, a set request (of set_word) and a get request.
inline const std::vector<std::string> write_args = {"-t", "10"};
inline const std::string trace = "cmd for hornio=\"period 10\"\n";
inline const std::vector<std::string> read_args = {"-d"};
inline const std::vector<std::string> set_args = {"10", "20", "3"};
constexpr uint32_t set_word = 0x000A1403;
inline const std::vector<std::string> get_args = {};

// One end-to-end case: a board, the arguments, and everything expected back.
struct run_case {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
    std::string log;
    // Why this build cannot run the case, or empty.
    std::string skip = {};
};

void PrintTo(const run_case& c, std::ostream* stream);
std::string case_name(const testing::TestParamInfo<run_case>& info);

// Cases are instantiated per area with INSTANTIATE_TEST_SUITE_P(Area, RunCase, ...).
// Each case also runs with POSIXLY_CORRECT set, which must change nothing
// (not under a wrapper such as valgrind).
class RunCase : public testing::TestWithParam<run_case> {};

// The request numbers the driver must receive: the device contract's, whose encoding the
// emulator's tests check against known answers.
constexpr uint32_t set_request_number = HORNIO_SET_REQUEST;
constexpr uint32_t get_request_number = HORNIO_GET_REQUEST;

// Texts hornset prints that come from the C library it is linked with, not
// from hornset: getopt's diagnostics and the system's error reasons. The C
// library is chosen when the tests are built (HORNSET_TEST_LIBC).
namespace c_library {
extern const std::string name;           // "glibc" or "musl"
std::string invalid_option(char option); // getopt's line for an unknown option
std::string missing_value(char option);  // getopt's line for an option without its value
std::string reason(int error);           // strerror's text, as perror shows it
} // namespace c_library

// Lines of the emulated board's log.
namespace logged {
extern const std::string proc_read;    // "/proc/lampstat" opened and closed
extern const std::string proc_missing; // opening "/proc/lampstat" failed with ENOENT
extern const std::string node_open;
extern const std::string node_close;
std::string node_open_failed(const std::string& error_name);
std::string write(const std::string& bytes, const std::string& result);
// A read that returned these bytes; result, when given, is the count the driver
// reported instead of their number.
std::string read_returned(const std::string& bytes, long result = -1);
std::string read_failed(const std::string& result);
std::string request(uint32_t number, uint32_t word, const std::string& result);
std::string get_request(uint32_t word_out);
} // namespace logged

// The emulated driver's status reply before any command.
extern const std::string idle_reply;

} // namespace hornset_test
