// hornset as boot scripts, cron jobs and other programs run it: with standard
// streams closed, standard output and standard error joined into one log, and
// standard output that cannot be written ("/dev/full", or a pipe whose reader
// has gone). What reached the driver is the same in every case.
#include "harness.h"

#include <cerrno>

namespace hornset_test {
namespace {

using logged::proc_read;

// Each device operation succeeding, refused its open, and failed by its driver.
std::vector<run_case> device_runs() {
    std::vector<run_case> cases;
    for (const auto& [name, o, fault] : {std::tuple{std::string("Write"), op::write, "EIO"},
                                         {"Read", op::read, "EIO"},
                                         {"Set", op::set, "ENOTTY"},
                                         {"Get", op::get, "EIO"}}) {
        cases.push_back(succeeds(name, o));
        cases.push_back(open_fails(name + "OpenFails", o, "open fail EACCES\n", EACCES));
        cases.push_back(driver_fails(name + "Fails", o, fault));
    }
    return cases;
}

// Usage errors, brief and with the option list, and a refusal after the detection message.
std::vector<run_case> usage_runs() {
    return {refused("TooFewArguments", {}, says::too_few), unknown("InvalidOption", {"-x"}, 'x'),
            refused("InvalidPeriod", {"-t", "0"}, says::bad_period),
            without_proc(
                prints("Refusal", request_board(), {"0", "1", "1"}, says::zero, 1, proc_read))};
}

// The run with standard output that cannot be written (its write meets error): one that
// would succeed with some output fails with the reason; one that fails keeps its own.
run_case losing_output(run_case c, int error) {
    if (c.status == 0 && !c.out.empty()) {
        c.err = says::output_lost + c_library::reason(error);
        c.status = 1;
    }
    c.out = "";
    return c;
}

// The node lands on the lowest closed descriptor, is moved above the standard
// ones, and nothing printed reaches it; a closed stream loses what is printed on it.
run_case with_closed(run_case c, const std::vector<int>& closed) {
    const std::string fd = std::to_string(closed.front());
    const std::string opened = proc_read + logged::node_open();
    if (c.log->rfind(opened, 0) == 0) {
        c.log = proc_read + "open /dev/hornio flags=O_RDWR -> ok fd=" + fd +
                "\ndup /dev/hornio fd=" + fd + " -> ok\nclose /dev/hornio fd=" + fd + " -> 0\n" +
                c.log->substr(opened.size());
    }
    std::string name = "Closed";
    for (const int stream : closed) {
        name += std::to_string(stream);
        c = stream == 1 ? losing_output(c, EBADF) : c;
        c.err = stream == 2 ? "" : c.err;
    }
    c.name = name + c.name;
    c.given.closed = closed;
    return c;
}

std::vector<run_case> closed_cases() {
    std::vector<run_case> cases;
    for (const std::vector<int>& closed :
         std::vector<std::vector<int>>{{0}, {1}, {2}, {0, 1}, {0, 2}, {1, 2}, {0, 1, 2}}) {
        for (const run_case& c : device_runs()) {
            cases.push_back(with_closed(c, closed));
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ClosedStreams, RunCase, testing::ValuesIn(closed_cases()), case_name);

// Runs that succeed with some output, each kind of it.
std::vector<run_case> with_output() {
    return {succeeds("TraceLine", op::write), succeeds("StatusReply", op::read),
            prints("Version", request_board(), {"--version"}, says::version, 0, proc_read),
            prints("Help", request_board(), {"--help"}, says::help, 0, proc_read),
            without_proc(succeeds("DetectionMessage", op::set))};
}

// Standard output and standard error on one file: a failure's reason comes before the last
// line the run prints on standard output (the driver's error line), or, for a usage error,
// before the option list; after the detection message where there is one.
std::vector<run_case> joined_cases() {
    std::vector<run_case> cases = device_runs();
    const std::vector<run_case> usage = usage_runs();
    cases.insert(cases.end(), usage.begin(), usage.end());
    cases.push_back(without_proc(driver_fails("SetFailsWithoutProcFile", op::set, "EINVAL")));
    for (run_case& c : cases) {
        const size_t list = c.out.find(says::option_list);
        const size_t last =
            list != std::string::npos ? list : c.out.rfind('\n', c.out.size() - 2) + 1;
        c.out = c.out.substr(0, last) + c.err + c.out.substr(last);
        c.err = "";
        c.given = joined;
    }
    // Under strace too, for the runs with output.
    for (run_case c : with_output()) {
        c.name = "Traced" + c.name;
        c.given = {{}, 0, {}, true, output::captured, buffering::standard, true};
        cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(JoinedStreams, RunCase, testing::ValuesIn(joined_cases()), case_name);

// Standard output "/dev/full" (in each buffering), or a pipe whose reader has gone: a run that
// would succeed fails with a write error, one that fails anyway keeps its own report and
// status, and does not end by SIGPIPE before that report is out.
std::vector<run_case> lost_output() {
    std::vector<run_case> cases;
    const auto lose = [&cases](run_case c, const std::string& name, const streams& given) {
        c = losing_output(c, given.stdout_to == output::full_device ? ENOSPC : EPIPE);
        c.err = given.joined ? "" : c.err; // standard error goes where standard output went
        c.name = name + c.name;
        c.given = given;
        cases.push_back(c);
    };
    std::vector<run_case> full = device_runs(); // the runs with output are the buffered rows
    const std::vector<run_case> usage = usage_runs();
    full.insert(full.end(), usage.begin(), usage.end());
    full.push_back(prints("EmptyReplyNothingToLose", qtr_pn("", std::string("\0", 1)), read_args,
                          "", 0, logged::used(logged::read_returned(std::string("\0", 1)))));
    for (const run_case& c : full) {
        if (c.status != 0 || c.out.empty()) {
            lose(c, "FullDevice", {{}, 0, {}, false, output::full_device});
        }
        if (c.status != 0) {
            lose(c, "ClosedPipe", {{}, 0, {}, false, output::broken_pipe});
        }
    }
    for (const auto& [mode, name] : {std::pair{buffering::standard, "FullyBuffered"},
                                     {buffering::line, "LineBuffered"},
                                     {buffering::none, "Unbuffered"}}) {
        for (const run_case& c : with_output()) {
            lose(c, name, {{}, 0, {}, false, output::full_device, mode});
        }
    }
    // Whichever stream's reader has gone, however it is buffered: the usage errors joined, a
    // refusal line-buffered, the report of lost output (2>&1 >&-: the pipe is standard error's).
    for (const run_case& c : usage) {
        lose(c, "ClosedPipeJoined", {{}, 0, {}, true, output::broken_pipe});
    }
    lose(prints("Refusal", request_board(), {"0", "1", "1"}, "", 1, proc_read),
         "ClosedPipeLineBuffered", {{}, 0, {}, false, output::broken_pipe, buffering::line});
    lose(prints("WriteErrorReport", request_board(), {"--version"}, "", 1, proc_read), "ClosedPipe",
         {{1}, 0, {}, true, output::broken_pipe});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LostOutput, RunCase, testing::ValuesIn(lost_output()), case_name);

} // namespace
} // namespace hornset_test
