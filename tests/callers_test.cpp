// hornset as boot scripts, cron jobs and other programs run it: with standard
// streams closed, and with standard output and standard error joined into one log.
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

namespace hornset_test {
namespace {

// One device operation with one driver behaviour, as it ends with all three
// standard streams open; its log is what follows the node's open (empty: the open failed).
std::vector<run_case> device_runs() {
    const std::string refused = says::open_failed(EACCES);
    const std::string& opened = says::open_error;
    return {
        {"Write", qtr_pn(), write_args, trace, "", 0,
         logged::write("period 10", "9") + logged::node_close},
        {"WriteOpenFails", qtr_pn("open fail EACCES\n"), write_args, trace + opened, refused, 1,
         ""},
        {"WriteFails", qtr_pn("write fail EIO\n"), write_args, trace + says::write_error,
         says::call_failed(EIO), 1, logged::write("period 10", "-1 EIO")},
        {"Read", qtr_pn(), read_args, idle_reply, "", 0,
         logged::read_returned(idle_reply) + logged::node_close},
        {"ReadOpenFails", qtr_pn("open fail EACCES\n"), read_args, opened, refused, 1, ""},
        {"ReadFails", qtr_pn("read fail EIO\n"), read_args, says::read_error,
         says::call_failed(EIO), 1, logged::read_failed("-1 EIO")},
        {"Set", request_board(), set_args, "", "", 0,
         logged::request(set_request_number, set_word, "0") + logged::node_close},
        {"SetOpenFails", request_board("open fail EACCES\n"), set_args, opened, refused, 1, ""},
        {"SetFails", request_board("ioctl fail ENOTTY\n"), set_args, says::ioctl_error,
         says::call_failed(ENOTTY), 1, logged::request(set_request_number, set_word, "-1 ENOTTY")},
        {"Get", request_board(), get_args, "", "", 0, logged::get_request(0) + logged::node_close},
        {"GetOpenFails", request_board("open fail EACCES\n"), get_args, opened, refused, 1, ""},
        {"GetFails", request_board("ioctl fail EIO\n"), get_args, says::ioctl_error,
         says::call_failed(EIO), 1, logged::request(get_request_number, 0, "-1 EIO")},
    };
}

// The node lands on the lowest closed descriptor, is moved above the standard
// ones, and nothing printed reaches it. A closed standard output still loses
// the output of a run that has some.
run_case with_closed(const run_case& run, const std::vector<int>& closed) {
    const auto is_closed = [&closed](int fd) {
        return std::find(closed.begin(), closed.end(), fd) != closed.end();
    };
    std::string name = "Closed";
    for (const int fd : closed) {
        name += std::to_string(fd);
    }
    const std::string lowest = std::to_string(closed.front());
    std::string log = logged::proc_read + logged::node_open_failed("EACCES");
    if (!run.log->empty()) {
        log = logged::proc_read + "open /dev/hornio flags=O_RDWR -> ok fd=" + lowest +
              "\ndup /dev/hornio fd=" + lowest + " -> ok\nclose /dev/hornio fd=" + lowest +
              " -> 0\n" + *run.log;
    }
    std::string err = run.err;
    int status = run.status;
    if (is_closed(1) && status == 0 && !run.out.empty()) {
        err = says::output_lost(EBADF);
        status = 1;
    }
    return {name + run.name,         run.board, run.args, is_closed(1) ? "" : run.out,
            is_closed(2) ? "" : err, status,    log,      {closed}};
}

std::vector<run_case> closed_cases() {
    std::vector<run_case> cases;
    for (const std::vector<int>& closed :
         std::vector<std::vector<int>>{{0}, {1}, {2}, {0, 1}, {0, 2}, {1, 2}, {0, 1, 2}}) {
        for (const run_case& run : device_runs()) {
            cases.push_back(with_closed(run, closed));
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ClosedStreams, RunCase, testing::ValuesIn(closed_cases()), case_name);

// Standard output and standard error on one file: every failure path's lines
// in the order produced.
run_case joined(const std::string& name, const scenario& board,
                const std::vector<std::string>& args, const std::string& out) {
    return {name, board, args, out, "", 1, std::nullopt, {{}, true}};
}

INSTANTIATE_TEST_SUITE_P(
    JoinedStreams, RunCase,
    testing::Values(
        // Option dialect.
        joined("TooFewArguments", qtr_pn(), {}, says::too_few + says::option_list),
        joined("InvalidOption", qtr_pn(), {"-x"},
               c_library::invalid_option('x') + says::bad_option + says::option_list),
        joined("InvalidPeriod", qtr_pn(), {"-t", "0"}, says::bad_period),
        joined("WriteOpenFails", qtr_pn("open fail EACCES\n"), write_args,
               trace + says::open_failed(EACCES) + says::open_error),
        joined("WriteFails", qtr_pn("write fail EIO\n"), write_args,
               trace + says::call_failed(EIO) + says::write_error),
        joined("WriteNotADevice", qtr_pn("node regular\n"), write_args,
               trace + says::open_failed(ENODEV) + says::open_error),
        joined("ReadOpenFails", qtr_pn("node absent\n"), read_args,
               says::open_failed(ENOENT) + says::open_error),
        joined("ReadFails", qtr_pn("read fail EIO\n"), read_args,
               says::call_failed(EIO) + says::read_error),
        // Positional dialect, after the detection message where there is one.
        joined("Refusal", no_lampstat(), {"0", "1", "1"}, says::no_proc + says::zero),
        joined("SetOpenFails", no_lampstat("node absent\n"), set_args,
               says::no_proc + says::open_failed(ENOENT) + says::open_error),
        joined("SetFails", no_lampstat("ioctl fail EINVAL\n"), set_args,
               says::no_proc + says::call_failed(EINVAL) + says::ioctl_error),
        joined("GetOpenFails", request_board("open fail EBUSY\n"), get_args,
               says::open_failed(EBUSY) + says::open_error),
        joined("GetFails", no_lampstat("ioctl return 1\n"), get_args,
               says::no_proc + says::call_failed(0) + says::ioctl_error),
        joined("GetNotADevice", no_lampstat("node fifo\n"), get_args,
               says::no_proc + says::open_failed(ENODEV) + says::open_error)),
    case_name);

// strace's lines of writes to a descriptor (glibc's stdio writes with write,
// musl's with writev), or of a change of SIGPIPE's action.
size_t lines_starting(const std::string& writes, const std::vector<std::string>& starts) {
    size_t found = 0;
    std::istringstream lines(writes);
    for (std::string line; std::getline(lines, line);) {
        found += static_cast<size_t>(
            std::any_of(starts.begin(), starts.end(),
                        [&line](const std::string& start) { return line.rfind(start, 0) == 0; }));
    }
    return found;
}

// The writes of a successful run, standard error joined to standard output, as strace saw them.
std::string traced_writes(const scenario& board, const std::vector<std::string>& args) {
    streams given;
    given.joined = true;
    given.traced = true;
    const outcome result = run_hornset(board, args, given);
    EXPECT_EQ(result.status, 0) << testing::PrintToString(args) << "\n" << result;
    return result.writes;
}

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
        const std::string writes = traced_writes(board, args);
        EXPECT_EQ(lines_starting(writes, {"write(1,", "writev(1,"}), 1U) << writes;
        EXPECT_EQ(lines_starting(writes, {"write(2,", "writev(2,"}), 0U) << writes;
        EXPECT_EQ(lines_starting(writes, {"rt_sigaction(SIGPIPE,"}), 0U) << writes;
    }
}

} // namespace
} // namespace hornset_test
