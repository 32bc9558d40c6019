// Runs whose standard output cannot be written ("/dev/full", or a pipe whose
// reader has gone): a run that would succeed fails with a write error; a run
// that fails anyway keeps its own messages and status. What reached the
// driver is unchanged either way.
#include "harness.h"

#include <cerrno>

namespace hornset_test {
namespace {

struct lost_output_case {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string err;
    int status;
    std::string log;
    output stdout_to = output::full_device;
    streams others = {}; // standard error and standard output's buffering
};

void PrintTo(const lost_output_case& c, std::ostream* stream) {
    *stream << c.name;
}

std::string lost_output_name(const testing::TestParamInfo<lost_output_case>& param_info) {
    return param_info.param.name;
}

class LostOutput : public testing::TestWithParam<lost_output_case> {};

TEST_P(LostOutput, ReportedOnce) {
    const lost_output_case& c = GetParam();
    if (c.others.mode != buffering::standard && !buffering_can_be_chosen()) {
        GTEST_SKIP() << "standard output's buffering cannot be chosen here";
    }
    streams given = c.others;
    given.stdout_to = c.stdout_to;
    const outcome result = run_hornset(c.board, c.args, given);
    EXPECT_EQ(result.err, c.err) << "standard error";
    EXPECT_EQ(result.status, c.status) << "exit status";
    EXPECT_EQ(result.log, c.log) << "what reached the emulated board";
    EXPECT_EQ(result.node, "") << "what reached the node past the driver";
}

const std::string write_error = "hornset: write error: " + c_library::reason(ENOSPC) + "\n";
const std::string set_log =
    logged::node_open + logged::request(set_request_number, 0x000A1403, "0") + logged::node_close;
const std::string node_used = logged::proc_read + logged::node_open;

// A run that fails without touching the device, standard output a pipe whose
// reader has gone (others: standard error, buffering): it exits 1, not by SIGPIPE.
lost_output_case gone_reader(const std::string& name, const scenario& board,
                             const std::vector<std::string>& args, const streams& others) {
    lost_output_case row{name + "IntoClosedPipe", board, args, "", 1, logged::proc_read};
    row.stdout_to = output::broken_pipe;
    row.others = others;
    return row;
}
// 2>&1; 2>&1 >&- (the pipe is standard error's alone); stdbuf -oL.
const streams joined = {{}, true};
const streams joined_stdout_closed = {{1}, true};
const streams line_buffered = {{}, false, output::captured, buffering::line};

INSTANTIATE_TEST_SUITE_P(
    Output, LostOutput,
    testing::Values(
        lost_output_case{"StatusReply",
                         qtr_pn(),
                         {"-d"},
                         write_error,
                         1,
                         node_used + logged::read_returned(idle_reply) + logged::node_close},
        // The command still reached the driver: only the report of it was lost.
        lost_output_case{"TraceLine",
                         qtr_pn(),
                         {"-t", "10"},
                         write_error,
                         1,
                         node_used + logged::write("period 10", "9") + logged::node_close},
        lost_output_case{
            "Version", request_board(), {"--version"}, write_error, 1, logged::proc_read},
        lost_output_case{"Help", request_board(), {"--help"}, write_error, 1, logged::proc_read},
        lost_output_case{"DetectionMessage", no_lampstat(), set_args, write_error, 1,
                         logged::proc_missing + set_log},
        lost_output_case{"NothingToLose", request_board(), set_args, "", 0,
                         logged::proc_read + set_log},
        lost_output_case{"EmptyReplyNothingToLose",
                         with_reply(std::string("\0", 1)),
                         {"-d"},
                         "",
                         0,
                         node_used + logged::read_returned(std::string("\0", 1)) +
                             logged::node_close},
        lost_output_case{"BriefUsageKeepsItsOwn",
                         qtr_pn(),
                         {"-t", "0"},
                         "Error: hornset - invalid period value\n"
                         "Usage: hornset [-options] [value]\n",
                         1,
                         logged::proc_read},
        lost_output_case{"FullUsageKeepsItsOwn",
                         qtr_pn(),
                         {},
                         "Error: hornset - too few arguments\n"
                         "Usage: hornset [-options] [value]\n",
                         1,
                         logged::proc_read},
        lost_output_case{"RefusalKeepsItsOwn", request_board(), {"5"}, "", 1, logged::proc_read},
        // Device failures keep their own report, and nothing further reaches the driver.
        lost_output_case{"NodeMissingKeepsItsOwn",
                         qtr_pn("node absent\n"),
                         {"-d"},
                         "open: " + c_library::reason(ENOENT) + "\n",
                         1,
                         logged::proc_read + logged::node_open_failed("ENOENT")},
        lost_output_case{"GetOpenRefusedKeepsItsOwn",
                         request_board("open fail EACCES\n"),
                         {},
                         "open: " + c_library::reason(EACCES) + "\n",
                         1,
                         logged::proc_read + logged::node_open_failed("EACCES")},
        lost_output_case{"WriteFailsKeepsItsOwn",
                         qtr_pn("write fail EIO\n"),
                         {"-t", "10"},
                         "hornset:: " + c_library::reason(EIO) + "\n",
                         1,
                         node_used + logged::write("period 10", "-1 EIO")},
        lost_output_case{"WriteMovesNothingKeepsItsOwn",
                         qtr_pn("write return 0\n"),
                         {"-t", "10"},
                         "hornset:: " + c_library::reason(0) + "\n",
                         1,
                         node_used + logged::write("period 10", "0")},
        lost_output_case{"ReadReturnsNothingKeepsItsOwn",
                         qtr_pn("read return 0\n"),
                         {"-d"},
                         "hornset:: " + c_library::reason(0) + "\n",
                         1,
                         node_used + logged::read_failed("0")},
        lost_output_case{"ReadFailsKeepsItsOwn",
                         qtr_pn("read fail EIO\n"),
                         {"-d"},
                         "hornset:: " + c_library::reason(EIO) + "\n",
                         1,
                         node_used + logged::read_failed("-1 EIO")},
        lost_output_case{"SetFailsKeepsItsOwn", request_board("ioctl fail EINVAL\n"), set_args,
                         "hornset:: " + c_library::reason(EINVAL) + "\n", 1,
                         node_used + logged::request(set_request_number, 0x000A1403, "-1 EINVAL")},
        // A reader that has gone: output still held when the failure is met
        // (the trace line, the detection message) must not end the run by
        // SIGPIPE before the report is out.
        lost_output_case{"WriteFailsIntoClosedPipe", qtr_pn("write fail EIO\n"), write_args,
                         "hornset:: " + c_library::reason(EIO) + "\n", 1,
                         node_used + logged::write("period 10", "-1 EIO"), output::broken_pipe},
        lost_output_case{"OpenRefusedIntoClosedPipe", qtr_pn("open fail EACCES\n"), write_args,
                         "open: " + c_library::reason(EACCES) + "\n", 1,
                         logged::proc_read + logged::node_open_failed("EACCES"),
                         output::broken_pipe},
        lost_output_case{"RequestFailsIntoClosedPipe", no_lampstat("ioctl fail EINVAL\n"), set_args,
                         "hornset:: " + c_library::reason(EINVAL) + "\n", 1,
                         logged::proc_missing + logged::node_open +
                             logged::request(set_request_number, set_word, "-1 EINVAL"),
                         output::broken_pipe},
        // Whichever stream's reader has gone, however it is buffered: getopt's
        // complaints, a usage error, a refusal, the report of lost output.
        gone_reader("InvalidOptionJoined", qtr_pn(), {"-x"}, joined),
        gone_reader("MissingValueJoined", qtr_pn(), {"-t", "10", "-c"}, joined),
        gone_reader("UsageJoined", qtr_pn(), {"-c", "3"}, joined),
        gone_reader("LineBufferedRefusal", request_board(), {"0", "1", "1"}, line_buffered),
        gone_reader("WriteErrorReport", request_board(), {"--version"}, joined_stdout_closed)),
    lost_output_name);

} // namespace
} // namespace hornset_test
