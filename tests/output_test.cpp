// Runs whose standard output cannot be written ("/dev/full"): a run that would
// succeed fails with a write error; a run that fails anyway keeps its own
// messages and status.
#include "harness.h"

namespace hornset_test {
namespace {

struct lost_output_case {
    std::string name;
    scenario board;
    std::vector<std::string> args;
    std::string err;
    int status;
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
    const outcome result = run_hornset(c.board, c.args, output::full_device);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
}

const std::string write_error = "hornset: write error: No space left on device\n";

INSTANTIATE_TEST_SUITE_P(
    Output, LostOutput,
    testing::Values(lost_output_case{"StatusReply", qtr_pn(), {"-d"}, write_error, 1},
                    lost_output_case{"TraceLine", qtr_pn(), {"-t", "10"}, write_error, 1},
                    lost_output_case{"Version", request_board(), {"--version"}, write_error, 1},
                    lost_output_case{"Help", request_board(), {"--help"}, write_error, 1},
                    lost_output_case{
                        "DetectionMessage", no_lampstat(), {"10", "20", "3"}, write_error, 1},
                    lost_output_case{"NothingToLose", request_board(), {"10", "20", "3"}, "", 0},
                    lost_output_case{
                        "EmptyReplyNothingToLose", with_reply(std::string("\0", 1)), {"-d"}, "", 0},
                    lost_output_case{"BriefUsageKeepsItsOwn",
                                     qtr_pn(),
                                     {"-t", "0"},
                                     "Error: hornset - invalid period value\n"
                                     "Usage: hornset [-options] [value]\n",
                                     1},
                    lost_output_case{"FullUsageKeepsItsOwn",
                                     qtr_pn(),
                                     {},
                                     "Error: hornset - too few arguments\n"
                                     "Usage: hornset [-options] [value]\n",
                                     1},
                    lost_output_case{"DeviceFailureKeepsItsOwn",
                                     qtr_pn("node absent\n"),
                                     {"-d"},
                                     "open: No such file or directory\n",
                                     1},
                    lost_output_case{"RefusalKeepsItsOwn", request_board(), {"5"}, "", 1}),
    lost_output_name);

// The command still reached the driver: only the report of it was lost.
TEST(LostOutput, CommandWasStillSent) {
    const outcome result = run_hornset(qtr_pn(), {"-p", "x"}, output::full_device);
    EXPECT_EQ(result.log, logged::proc_read + logged::node_open + logged::write("pattern x", "9") +
                              logged::node_close);
}

} // namespace
} // namespace hornset_test
