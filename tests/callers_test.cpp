// hornset as boot scripts, cron jobs and other programs run it: with standard
// streams closed, with standard output and standard error joined into one
// log, with standard output buffered in each way, and with something other
// than the driver's device at "/dev/hornio".
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

namespace hornset_test {
namespace {

template <typename Case>
std::string named(const testing::TestParamInfo<Case>& param_info) {
    return param_info.param.name;
}

// One device operation with one driver behaviour, as it ends with all three
// standard streams open. device_log is what follows the node's open.
struct device_run {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
    std::string device_log; // empty: the open failed
};

std::vector<device_run> device_runs() {
    const std::string open_error = "open: " + c_library::reason(EACCES) + "\n";
    const std::string opened = "driver open error.\n";
    return {
        {"Write", qtr_pn(), write_args, trace, "", 0,
         logged::write("period 10", "9") + logged::node_close},
        {"WriteOpenFails", qtr_pn("open fail EACCES\n"), write_args, trace + opened, open_error, 1,
         ""},
        {"WriteFails", qtr_pn("write fail EIO\n"), write_args, trace + "driver write error.\n",
         "hornset:: " + c_library::reason(EIO) + "\n", 1, logged::write("period 10", "-1 EIO")},
        {"Read", qtr_pn(), read_args, idle_reply, "", 0,
         logged::read_returned(idle_reply) + logged::node_close},
        {"ReadOpenFails", qtr_pn("open fail EACCES\n"), read_args, opened, open_error, 1, ""},
        {"ReadFails", qtr_pn("read fail EIO\n"), read_args, "driver read error.\n",
         "hornset:: " + c_library::reason(EIO) + "\n", 1, logged::read_failed("-1 EIO")},
        {"Set", request_board(), set_args, "", "", 0,
         logged::request(set_request_number, set_word, "0") + logged::node_close},
        {"SetOpenFails", request_board("open fail EACCES\n"), set_args, opened, open_error, 1, ""},
        {"SetFails", request_board("ioctl fail ENOTTY\n"), set_args, "driver ioctl error.\n",
         "hornset:: " + c_library::reason(ENOTTY) + "\n", 1,
         logged::request(set_request_number, set_word, "-1 ENOTTY")},
        {"Get", request_board(), get_args, "", "", 0, logged::get_request(0) + logged::node_close},
        {"GetOpenFails", request_board("open fail EACCES\n"), get_args, opened, open_error, 1, ""},
        {"GetFails", request_board("ioctl fail EIO\n"), get_args, "driver ioctl error.\n",
         "hornset:: " + c_library::reason(EIO) + "\n", 1,
         logged::request(get_request_number, 0, "-1 EIO")},
    };
}

struct closed_case {
    std::string name;
    device_run run;
    std::vector<int> closed;
};

void PrintTo(const closed_case& c, std::ostream* stream) {
    *stream << c.name;
}

std::vector<closed_case> closed_cases() {
    const std::vector<std::vector<int>> subsets = {{0},    {1},    {2},      {0, 1},
                                                   {0, 2}, {1, 2}, {0, 1, 2}};
    std::vector<closed_case> cases;
    for (const std::vector<int>& closed : subsets) {
        std::string name = "Closed";
        for (const int fd : closed) {
            name += std::to_string(fd);
        }
        for (const device_run& run : device_runs()) {
            cases.push_back({name + run.name, run, closed});
        }
    }
    return cases;
}

class ClosedStreams : public testing::TestWithParam<closed_case> {};

// The node lands on the lowest closed descriptor, is moved above the standard
// ones, and nothing printed reaches it. A closed standard output still loses
// the output of a run that has some.
TEST_P(ClosedStreams, NothingPrintedReachesTheDriver) {
    const closed_case& c = GetParam();
    if (runs_under_wrapper() && std::find(c.closed.begin(), c.closed.end(), 2) != c.closed.end()) {
        GTEST_SKIP() << "the wrapper hornset runs under reports on standard error";
    }
    streams given;
    given.closed = c.closed;
    const outcome result = run_hornset(c.run.board, c.run.args, given);

    const auto is_closed = [&c](int fd) {
        return std::find(c.closed.begin(), c.closed.end(), fd) != c.closed.end();
    };
    const std::string lowest = std::to_string(c.closed.front());
    std::string log = logged::proc_read;
    if (c.run.device_log.empty()) {
        log += logged::node_open_failed("EACCES");
    } else {
        log += "open /dev/hornio flags=O_RDWR -> ok fd=" + lowest +
               "\ndup /dev/hornio fd=" + lowest + " -> ok\nclose /dev/hornio fd=" + lowest +
               " -> 0\n" + c.run.device_log;
    }
    std::string err = c.run.err;
    int status = c.run.status;
    if (is_closed(1) && status == 0 && !c.run.out.empty()) {
        err = "hornset: write error: " + c_library::reason(EBADF) + "\n";
        status = 1;
    }
    EXPECT_EQ(result.out, is_closed(1) ? "" : c.run.out) << result;
    EXPECT_EQ(result.err, is_closed(2) ? "" : err) << result;
    EXPECT_EQ(result.status, status) << result;
    EXPECT_EQ(result.log, log) << result;
    EXPECT_EQ(result.node, "") << result;
}

INSTANTIATE_TEST_SUITE_P(Callers, ClosedStreams, testing::ValuesIn(closed_cases()),
                         named<closed_case>);

// Standard output and standard error on one file: every failure path's lines
// in the order produced.
struct joined_case {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string joined;
    int status;
};

void PrintTo(const joined_case& c, std::ostream* stream) {
    *stream << c.name;
}

class JoinedStreams : public testing::TestWithParam<joined_case> {};

TEST_P(JoinedStreams, KeepTheOrderProduced) {
    const joined_case& c = GetParam();
    streams given;
    given.joined = true;
    const outcome result = run_hornset(c.board, c.args, given);
    EXPECT_EQ(result.out, c.joined) << result;
    EXPECT_EQ(result.status, c.status) << result;
    EXPECT_EQ(result.node, "") << result;
}

const std::string usage_line = "Usage: hornset [-options] [value]\n";
const std::string option_list = "\tAllowed options are:\n\t-d    Show Buzzer Status.\n"
                                "\t-t    Buzzer Period.\n\t-c    Repeat Count.\n"
                                "\t-p    Buzzer Pattern.\n";
const std::string no_proc = "fail to open /proc/lampstat\n";

INSTANTIATE_TEST_SUITE_P(
    Callers, JoinedStreams,
    testing::Values(
        // Option dialect.
        joined_case{"TooFewArguments",
                    qtr_pn(),
                    {},
                    "Error: hornset - too few arguments\n" + usage_line + option_list,
                    1},
        joined_case{"InvalidOption",
                    qtr_pn(),
                    {"-x"},
                    c_library::invalid_option('x') + "Error: hornset - invalid option\n" +
                        usage_line + option_list,
                    1},
        joined_case{"InvalidPeriod",
                    qtr_pn(),
                    {"-t", "0"},
                    "Error: hornset - invalid period value\n" + usage_line,
                    1},
        joined_case{"WriteOpenFails", qtr_pn("open fail EACCES\n"), write_args,
                    trace + "open: " + c_library::reason(EACCES) + "\ndriver open error.\n", 1},
        joined_case{"WriteFails", qtr_pn("write fail EIO\n"), write_args,
                    trace + "hornset:: " + c_library::reason(EIO) + "\ndriver write error.\n", 1},
        joined_case{"WriteNotADevice", qtr_pn("node regular\n"), write_args,
                    trace + "open: " + c_library::reason(ENODEV) + "\ndriver open error.\n", 1},
        joined_case{"ReadOpenFails", qtr_pn("node absent\n"), read_args,
                    "open: " + c_library::reason(ENOENT) + "\ndriver open error.\n", 1},
        joined_case{"ReadFails", qtr_pn("read fail EIO\n"), read_args,
                    "hornset:: " + c_library::reason(EIO) + "\ndriver read error.\n", 1},
        // Positional dialect, after the detection message where there is one.
        joined_case{"Refusal",
                    no_lampstat(),
                    {"0", "1", "1"},
                    no_proc + "Error: Invalid parameter.\nCan't set to zero.\n",
                    1},
        joined_case{"SetOpenFails", no_lampstat("node absent\n"), set_args,
                    no_proc + "open: " + c_library::reason(ENOENT) + "\ndriver open error.\n", 1},
        joined_case{"SetFails", no_lampstat("ioctl fail EINVAL\n"), set_args,
                    no_proc + "hornset:: Invalid argument\ndriver ioctl error.\n", 1},
        joined_case{"GetOpenFails", request_board("open fail EBUSY\n"), get_args,
                    "open: " + c_library::reason(EBUSY) + "\ndriver open error.\n", 1},
        joined_case{"GetFails", no_lampstat("ioctl return 1\n"), get_args,
                    no_proc + "hornset:: " + c_library::reason(0) + "\ndriver ioctl error.\n", 1},
        joined_case{"GetNotADevice", no_lampstat("node fifo\n"), get_args,
                    no_proc + "open: " + c_library::reason(ENODEV) + "\ndriver open error.\n", 1}),
    named<joined_case>);

// Standard output on a full device, in each buffering: the reason is the
// one the failed write met.
struct buffered_case {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string log;
};

void PrintTo(const buffered_case& c, std::ostream* stream) {
    *stream << c.name;
}

class LostOutputBuffering : public testing::TestWithParam<buffered_case> {};

TEST_P(LostOutputBuffering, GivesTheReason) {
    const buffered_case& c = GetParam();
    for (const buffering mode : {buffering::standard, buffering::line, buffering::none}) {
        if (mode != buffering::standard && !buffering_can_be_chosen()) {
            continue;
        }
        SCOPED_TRACE(mode == buffering::standard ? "fully buffered"
                     : mode == buffering::line   ? "line-buffered"
                                                 : "unbuffered");
        streams given;
        given.stdout_to = output::full_device;
        given.mode = mode;
        const outcome result = run_hornset(c.board, c.args, given);
        EXPECT_EQ(result.err, "hornset: write error: " + c_library::reason(ENOSPC) + "\n")
            << result;
        EXPECT_EQ(result.status, 1) << result;
        EXPECT_EQ(result.log, c.log) << result;
    }
}

const std::string node_used = logged::proc_read + logged::node_open;

INSTANTIATE_TEST_SUITE_P(
    Callers, LostOutputBuffering,
    testing::Values(
        buffered_case{"TraceLine", qtr_pn(), write_args,
                      node_used + logged::write("period 10", "9") + logged::node_close},
        buffered_case{"StatusReply", qtr_pn(), read_args,
                      node_used + logged::read_returned(idle_reply) + logged::node_close},
        buffered_case{"Version", request_board(), {"--version"}, logged::proc_read},
        buffered_case{"Help", request_board(), {"--help"}, logged::proc_read},
        buffered_case{"DetectionMessage", no_lampstat(), set_args,
                      logged::proc_missing + logged::node_open +
                          logged::request(set_request_number, set_word, "0") + logged::node_close}),
    named<buffered_case>);

// A successful run still writes its output to standard output in one piece,
// and nothing to standard error, and leaves SIGPIPE's action alone.
TEST(SuccessfulRun, WritesItsOutputOnce) {
    if (!writes_can_be_traced()) {
        GTEST_SKIP() << "strace cannot follow hornset here";
    }
    const std::pair<scenario, std::vector<std::string>> runs[] = {
        {qtr_pn(), write_args},           {qtr_pn(), read_args},     {request_board(), {"--help"}},
        {request_board(), {"--version"}}, {no_lampstat(), set_args},
    };
    for (const auto& [board, args] : runs) {
        SCOPED_TRACE(testing::PrintToString(args));
        streams given;
        given.joined = true;
        given.traced = true;
        const outcome result = run_hornset(board, args, given);
        ASSERT_EQ(result.status, 0) << result;
        size_t to_stdout = 0;
        size_t to_stderr = 0;
        size_t signal_actions = 0;
        std::istringstream lines(result.writes);
        for (std::string line; std::getline(lines, line);) {
            signal_actions += line.rfind("rt_sigaction(SIGPIPE,", 0) == 0 ? 1U : 0U;
            // glibc's stdio writes with write, musl's with writev.
            const auto to = [&line](int fd) {
                const std::string descriptor = "(" + std::to_string(fd) + ",";
                return line.rfind("write" + descriptor, 0) == 0 ||
                       line.rfind("writev" + descriptor, 0) == 0;
            };
            to_stdout += to(1) ? 1U : 0U;
            to_stderr += to(2) ? 1U : 0U;
        }
        EXPECT_EQ(to_stdout, 1U) << result.writes;
        EXPECT_EQ(to_stderr, 0U) << result.writes;
        EXPECT_EQ(signal_actions, 0U) << result.writes;
    }
}

// Something other than a character device at the node's path: a failed open,
// and nothing written, read or requested.
std::vector<run_case> not_a_device() {
    std::vector<run_case> cases;
    const std::string err = "open: " + c_library::reason(ENODEV) + "\n";
    const std::string out = "driver open error.\n";
    const std::string log = logged::proc_read + logged::node_open;
    for (const std::string type : {"regular", "fifo"}) {
        const std::string directive = "node " + type + "\n";
        const std::string name = type == "regular" ? "RegularFile" : "Fifo";
        cases.push_back(
            {name + "OnWrite", qtr_pn(directive), write_args, trace + out, err, 1, log});
        cases.push_back({name + "OnRead", qtr_pn(directive), read_args, out, err, 1, log});
        cases.push_back({name + "OnSet", request_board(directive), set_args, out, err, 1, log});
        cases.push_back({name + "OnGet", request_board(directive), get_args, out, err, 1, log});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(NotADevice, RunCase, testing::ValuesIn(not_a_device()), case_name);

} // namespace
} // namespace hornset_test
