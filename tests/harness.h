// Runs the built hornset on a board and captures what it did: the emulated board, or with
// HORNSET_TEST_DRIVER=module the stand-in kernel module behind the real "/dev/hornio" and
// "/proc/lampstat" (the kernel guests). HORNSET_TEST_TOOL, HORNSET_TEST_LIBC (glibc or musl) and
// HORNSET_TEST_PRELOAD name another hornset, its C library and the emulated board's library for it.
#pragma once

#include "device/hornio.h"
#include "emulator/errnames.h"
#include "emulator/logrecord.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hornset_test {

// What the board looks like for one run: the content of "/proc/lampstat"
// (none: the file does not exist), the driver's directives (faults, "node
// absent") and the status reply it gives instead of its own.
struct scenario {
    std::optional<std::string> lampstat;
    std::string board_conf = {};
    std::optional<std::string> reply = {};
};

inline scenario qtr_pn(const std::string& board_conf = "",
                       const std::optional<std::string>& reply = {}) {
    return {"leds: status=off error=off\nmodel: QTR-PN\n", board_conf, reply};
}
inline scenario request_board(const std::string& board_conf = "") {
    return {"leds: status=off error=off\nmodel: RQ-200\n", board_conf};
}

struct outcome {
    std::string out;
    std::string err;
    int status = -1;
    std::string log; // the board's record of what reached its two paths
};

enum class output { captured, full_device, broken_pipe };
enum class buffering { standard, line, none }; // standard output's (stdbuf -oL, -o0)

// The standard streams hornset starts with, as callers hand them over.
struct streams {
    std::vector<int> closed; // standard descriptors hornset starts without
    int descriptors = 0;     // a limit of open descriptors (ulimit -n, through /bin/sh), or none
    std::vector<std::string> environment = {}; // NAME=VALUE entries added to the few a run has
    bool joined = false; // standard error is standard output (2>&1): all in outcome::out
    output stdout_to = output::captured;
    buffering mode = buffering::standard;
    // Run under strace: the run's output must reach standard output in one write, nothing
    // reach standard error, and SIGPIPE's action stay as it was.
    bool traced = false;
};
inline const streams joined = {{}, 0, {}, true};

// Runs hornset with these arguments (argv[0] is "hornset") on a fresh board.
outcome run_hornset(const scenario& board, const std::vector<std::string>& args,
                    const streams& given = {});

// Whether the board is the stand-in kernel module rather than the emulated board.
bool on_module();

// Texts hornset prints that come from the C library it is linked with: getopt's
// diagnostics and the system's error reasons, for glibc and musl.
namespace c_library {
// getopt's line for an unknown option, or for one without its value (missing).
std::string complaint(char option, bool missing);
std::string reason(int error); // strerror's text and a newline, as perror ends its line
} // namespace c_library

// Every text hornset prints of its own, once.
namespace says {
inline const std::string usage = "Usage: hornset [-options] [value]\n";
inline const std::string option_list = "\tAllowed options are:\n"
                                       "\t-d    Show Buzzer Status.\n"
                                       "\t-t    Buzzer Period.\n"
                                       "\t-c    Repeat Count.\n"
                                       "\t-p    Buzzer Pattern.\n";
inline const std::string help = "Usage: hornset [off time] [on time] [count]\n"
                                "--help     : help\n"
                                "--version  : version\n"
                                "off time : 1-255\n"
                                "on time  : 1-255\n"
                                "count    : 0-255 (255 = buzzer always running.)\n";
inline const std::string version = "hornset version " HORNSET_VERSION "\n";
inline const std::string no_proc = "fail to open " HORNIO_LAMPSTAT_PATH "\n";
inline const std::string invalid = "Error: Invalid parameter.\n";
inline const std::string zero = invalid + "Can't set to zero.\n";
inline const std::string negative = invalid + "Can't set to negative value.\n";
inline const std::string over = invalid + "Can't set to over 255.\n";
inline const std::string open_error = "driver open error.\n";
inline const std::string write_error = "driver write error.\n";
inline const std::string read_error = "driver read error.\n";
inline const std::string ioctl_error = "driver ioctl error.\n";
// The option dialect's usage errors, with the usage line after them.
inline std::string refusal(const std::string& message) {
    return "Error: hornset - " + message + "\n" + usage;
}
inline const std::string too_few = refusal("too few arguments");
inline const std::string bad_option = refusal("invalid option");
inline const std::string bad_period = refusal("invalid period value");
inline const std::string bad_count = refusal("invalid count value");
inline const std::string no_option = refusal("no pattern or period option");
inline const std::string no_pattern = refusal("no pattern option");
inline const std::string command_too_long = refusal("command too long");
inline const std::string pattern_too_long = refusal("pattern too long");
inline std::string trace(const std::string& command) {
    return "cmd for hornio=\"" + command + "\"\n";
}
// What hornset prints before the C library's reason for an error.
inline const std::string open_failed = "open: ";
inline const std::string call_failed = "hornset:: ";
inline const std::string output_lost = "hornset: write error: ";
} // namespace says

// The arguments of a status read and of a set request (of set_word), and the emulated
// driver's status reply before any command.
inline const std::vector<std::string> read_args = {"-d"};
inline const std::vector<std::string> set_args = {"10", "20", "3"};
constexpr uint32_t set_word = 0x000A1403;
inline const std::string idle_reply = "status: idle\n";

// Lines of the emulated board's log. An open's result is "ok" or an error's name.
namespace logged {
inline const std::string node = " " HORNIO_NODE_PATH;
inline const std::string proc = " " HORNIO_LAMPSTAT_PATH;
inline std::string proc_open(const std::string& result) {
    return "open" + proc + " mode=r -> " + result + "\n";
}
inline const std::string proc_read = proc_open("ok") + "close" + proc + "\n"; // opened and closed
inline std::string node_open(const std::string& result = "ok") {
    return "open" + node + " flags=O_RDWR -> " + result + "\n";
}
inline std::string write(const std::string& bytes, const std::string& result) {
    return "write" + node + " count=" + std::to_string(bytes.size()) +
           " data=" + hornemu::hex_encode(bytes) + " -> " + result + "\n";
}
// A read that returned these bytes; result, when given, is the count the driver
// reported instead of their number.
inline std::string read_returned(const std::string& bytes, long result = -1) {
    return "read" + node + " count=" + std::to_string(HORNIO_TEXT_SIZE) + " -> " +
           std::to_string(result < 0 ? static_cast<long>(bytes.size()) : result) +
           " data=" + hornemu::hex_encode(bytes) + "\n";
}
inline std::string request(uint32_t number, uint32_t word, const std::string& result) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), " request=0x%08x word=0x%08x -> ", number, word);
    return "ioctl" + node + text.data() + result + "\n";
}
// The proc file read, the node opened, these operations on it: the run ending at the last (a
// failure), or with the node closed.
inline std::string failed(const std::string& operations) {
    return proc_read + node_open() + operations;
}
inline std::string used(const std::string& operations) {
    return failed(operations) + "close" + node + " -> 0\n";
}
} // namespace logged

// One end-to-end case: a board, the arguments, the streams, and everything expected back.
struct run_case {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    std::optional<int> status;      // none: not compared
    std::optional<std::string> log; // what reached the board; none: not compared
    streams given = {};
    std::string skip = {}; // why this build cannot run the case, or empty
};

// A case that writes nothing to standard error.
inline run_case prints(const std::string& name, const scenario& board,
                       const std::vector<std::string>& args, const std::string& out, int status,
                       const std::string& log) {
    return {name, board, args, out, "", status, log};
}

// A usage error on standard error, getopt's own diagnostic, if any, first. A
// missing or invalid option adds the option list on standard output.
inline run_case refused(const std::string& name, const std::vector<std::string>& args,
                        const std::string& refusal, const std::string& diagnostic = "") {
    const bool full = refusal == says::too_few || refusal == says::bad_option;
    return {name, qtr_pn(),         args, full ? says::option_list : "", diagnostic + refusal,
            1,    logged::proc_read};
}

// getopt's complaint of an unknown option, or one without its value (missing).
inline run_case unknown(const std::string& name, const std::vector<std::string>& args, char option,
                        bool missing = false) {
    return refused(name, args, says::bad_option, c_library::complaint(option, missing));
}

// The device operations: the command write "-t 10", the status read "-d", the set request
// "10 20 3" and the get request (no arguments).
enum class op { write, read, set, get };
// An operation's run with the driver's own behaviour (its log the call's line alone), and the
// line a failure of it prints.
inline const std::pair<run_case, std::string>& operation_of(op o) {
    static const std::array<std::pair<run_case, std::string>, 4> operations = {{
        {prints("", qtr_pn(), {"-t", "10"}, says::trace("period 10"), 0,
                logged::write("period 10", "9")),
         says::write_error},
        {prints("", qtr_pn(), read_args, idle_reply, 0, logged::read_returned(idle_reply)),
         says::read_error},
        {prints("", request_board(), set_args, "", 0,
                logged::request(HORNIO_SET_REQUEST, set_word, "0")),
         says::ioctl_error},
        {prints("", request_board(), {}, "", 0,
                logged::request(HORNIO_GET_REQUEST, 0, "0 word=0x00000000")),
         says::ioctl_error},
    }};
    return operations.at(static_cast<size_t>(o));
}
// The run with the emulated driver's own behaviour, whatever these directives change.
inline run_case succeeds(const std::string& name, op o, const std::string& directive = "") {
    run_case c = operation_of(o).first;
    c.name = name;
    c.board.board_conf = directive;
    c.log = logged::used(*c.log);
    return c;
}
// The operation's run ending with this report, after the command's trace line.
inline run_case fails(run_case c, op o, const std::string& out, const std::string& err) {
    c.out = (o == op::write ? c.out : "") + out;
    c.err = err;
    c.status = 1;
    return c;
}
// The node's open fails with this error, or opens a node that is no device (ENODEV) or
// cannot be moved above the standard descriptors (EMFILE).
inline run_case open_fails(const std::string& name, op o, const std::string& directive, int error) {
    const bool opened = error == ENODEV || error == EMFILE;
    run_case c = fails(succeeds(name, o, directive), o, says::open_error,
                       says::open_failed + c_library::reason(error));
    c.log = logged::proc_read + logged::node_open(opened ? "ok" : hornemu::errno_name(error));
    return c;
}
// The driver fails the operation with an error (its name: "EIO") or returns this count: its
// call's log line ends with that result.
inline run_case driver_fails(const std::string& name, op o, const std::string& result) {
    const bool error = result[0] == 'E';
    const auto& [run, report] = operation_of(o);
    const std::string line = run.log->substr(0, run.log->rfind(" -> ") + 4);
    const std::string directive =
        line.substr(0, line.find(' ')) + (error ? " fail " : " return ") + result + "\n";
    const int reason = error ? hornemu::errno_parse(result) : 0;
    run_case c = fails(succeeds(name, o, directive), o, report,
                       says::call_failed + c_library::reason(reason));
    c.log = logged::failed(line + (error ? "-1 " : "") + result + "\n");
    return c;
}
// The run without "/proc/lampstat", or with one whose open fails with this error: the tool
// says so first, then speaks the positional dialect of a board with the request interface.
inline run_case without_proc(run_case c, const std::string& error = "ENOENT") {
    if (error == "ENOENT") {
        c.board.lampstat.reset();
    } else {
        c.board.board_conf += "lampstat fail " + error + "\n";
    }
    c.out = says::no_proc + c.out;
    c.log = logged::proc_open(error) + c.log->substr(logged::proc_read.size());
    return c;
}

inline void PrintTo(const run_case& c, std::ostream* stream) {
    *stream << c.name;
}
inline constexpr auto case_name = [](const auto& info) { return info.param.name; };

class RunCase : public testing::TestWithParam<run_case> {};

} // namespace hornset_test
