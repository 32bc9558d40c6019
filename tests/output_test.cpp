// Runs whose standard output cannot be written ("/dev/full", or a pipe whose
// reader has gone): a run that would succeed fails with a write error; a run
// that fails anyway keeps its own messages and status. What reached the
// driver is unchanged either way.
#include "harness.h"

#include <cerrno>

namespace hornset_test {
namespace {

const std::string write_error = says::output_lost(ENOSPC);
std::string set_log() {
    return logged::request(set_request_number, set_word, "0") + logged::node_close;
}

// Standard output "/dev/full", or with these streams a pipe whose reader has gone.
run_case lost(const std::string& name, const scenario& board, const std::vector<std::string>& args,
              const std::string& err, int status, const std::string& log,
              const streams& given = {{}, false, output::full_device}) {
    return {name, board, args, "", err, status, log, given};
}

// A run that fails without touching the device, standard output a pipe whose
// reader has gone (others: standard error, buffering): it exits 1, not by SIGPIPE.
run_case gone_reader(const std::string& name, const scenario& board,
                     const std::vector<std::string>& args, streams others) {
    others.stdout_to = output::broken_pipe;
    return lost(name + "IntoClosedPipe", board, args, "", 1, logged::proc_read, others);
}
// 2>&1; 2>&1 >&- (the pipe is standard error's alone); stdbuf -oL.
const streams joined = {{}, true};
const streams joined_stdout_closed = {{1}, true};
const streams line_buffered = {{}, false, output::captured, buffering::line};
const streams pipe_gone = {{}, false, output::broken_pipe};

INSTANTIATE_TEST_SUITE_P(
    LostOutput, RunCase,
    testing::Values(
        lost("NothingToLose", request_board(), set_args, "", 0,
             logged::proc_read + logged::node_open + set_log()),
        lost("EmptyReplyNothingToLose", with_reply(std::string("\0", 1)), read_args, "", 0,
             logged::used(logged::read_returned(std::string("\0", 1)))),
        lost("BriefUsageKeepsItsOwn", qtr_pn(), {"-t", "0"}, says::bad_period, 1,
             logged::proc_read),
        lost("FullUsageKeepsItsOwn", qtr_pn(), {}, says::too_few, 1, logged::proc_read),
        lost("RefusalKeepsItsOwn", request_board(), {"5"}, "", 1, logged::proc_read),
        // Device failures keep their own report, and nothing further reaches the driver.
        lost("NodeMissingKeepsItsOwn", qtr_pn("node absent\n"), read_args,
             says::open_failed(ENOENT), 1, logged::proc_read + logged::node_open_failed("ENOENT")),
        lost("GetOpenRefusedKeepsItsOwn", request_board("open fail EACCES\n"), get_args,
             says::open_failed(EACCES), 1, logged::proc_read + logged::node_open_failed("EACCES")),
        lost("WriteFailsKeepsItsOwn", qtr_pn("write fail EIO\n"), write_args,
             says::call_failed(EIO), 1, logged::failed(logged::write("period 10", "-1 EIO"))),
        lost("WriteMovesNothingKeepsItsOwn", qtr_pn("write return 0\n"), write_args,
             says::call_failed(0), 1, logged::failed(logged::write("period 10", "0"))),
        lost("ReadReturnsNothingKeepsItsOwn", qtr_pn("read return 0\n"), read_args,
             says::call_failed(0), 1, logged::failed(logged::read_failed("0"))),
        lost("ReadFailsKeepsItsOwn", qtr_pn("read fail EIO\n"), read_args, says::call_failed(EIO),
             1, logged::failed(logged::read_failed("-1 EIO"))),
        lost("SetFailsKeepsItsOwn", request_board("ioctl fail EINVAL\n"), set_args,
             says::call_failed(EINVAL), 1,
             logged::failed(logged::request(set_request_number, set_word, "-1 EINVAL"))),
        // A reader that has gone: output still held when the failure is met
        // (the trace line, the detection message) must not end the run by
        // SIGPIPE before the report is out.
        lost("WriteFailsIntoClosedPipe", qtr_pn("write fail EIO\n"), write_args,
             says::call_failed(EIO), 1, logged::failed(logged::write("period 10", "-1 EIO")),
             pipe_gone),
        lost("OpenRefusedIntoClosedPipe", qtr_pn("open fail EACCES\n"), write_args,
             says::open_failed(EACCES), 1, logged::proc_read + logged::node_open_failed("EACCES"),
             pipe_gone),
        lost("RequestFailsIntoClosedPipe", no_lampstat("ioctl fail EINVAL\n"), set_args,
             says::call_failed(EINVAL), 1,
             logged::proc_missing + logged::node_open +
                 logged::request(set_request_number, set_word, "-1 EINVAL"),
             pipe_gone),
        // Whichever stream's reader has gone, however it is buffered: getopt's
        // complaints, a usage error, a refusal, the report of lost output.
        gone_reader("InvalidOptionJoined", qtr_pn(), {"-x"}, joined),
        gone_reader("MissingValueJoined", qtr_pn(), {"-t", "10", "-c"}, joined),
        gone_reader("UsageJoined", qtr_pn(), {"-c", "3"}, joined),
        gone_reader("LineBufferedRefusal", request_board(), {"0", "1", "1"}, line_buffered),
        gone_reader("WriteErrorReport", request_board(), {"--version"}, joined_stdout_closed)),
    case_name);

// Standard output on a full device, in each buffering: a run that would succeed fails
// with the reason the failed write met.
std::vector<run_case> buffered() {
    const std::pair<buffering, std::string> modes[] = {{buffering::standard, "FullyBuffered"},
                                                       {buffering::line, "LineBuffered"},
                                                       {buffering::none, "Unbuffered"}};
    const std::string detected = logged::proc_missing + logged::node_open + set_log();
    std::vector<run_case> cases;
    for (const auto& [mode, name] : modes) {
        const streams given = {{}, false, output::full_device, mode};
        cases.push_back(lost(name + "TraceLine", qtr_pn(), write_args, write_error, 1,
                             logged::used(logged::write("period 10", "9")), given));
        cases.push_back(lost(name + "StatusReply", qtr_pn(), read_args, write_error, 1,
                             logged::used(logged::read_returned(idle_reply)), given));
        cases.push_back(lost(name + "Version", request_board(), {"--version"}, write_error, 1,
                             logged::proc_read, given));
        cases.push_back(lost(name + "Help", request_board(), {"--help"}, write_error, 1,
                             logged::proc_read, given));
        cases.push_back(lost(name + "DetectionMessage", no_lampstat(), set_args, write_error, 1,
                             detected, given));
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Buffering, RunCase, testing::ValuesIn(buffered()), case_name);

} // namespace
} // namespace hornset_test
