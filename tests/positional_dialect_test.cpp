// The positional dialect of every other board: off time, on time and count,
// the get request, --help and --version.
#include "harness.h"

#include <cstdio>

namespace hornset_test {
namespace {

const std::string invalid = "Error: Invalid parameter.\n";
const std::string help = "Usage: hornset [off time] [on time] [count]\n"
                         "--help     : help\n"
                         "--version  : version\n"
                         "off time : 1-255\n"
                         "on time  : 1-255\n"
                         "count    : 0-255 (255 = buzzer always running.)\n";

// The set request reaches the driver with this word.
run_case sets(const std::string& name, const std::vector<std::string>& args, uint32_t word) {
    return {name,
            request_board(),
            args,
            "",
            "",
            0,
            logged::proc_read + logged::node_open + logged::request(set_request_number, word, "0") +
                logged::node_close};
}

// Refused with these lines on standard output; nothing reaches the driver.
run_case refused(const std::string& name, const std::vector<std::string>& args,
                 const std::string& out) {
    return {name, request_board(), args, out, "", 1, logged::proc_read};
}

const std::string zero = invalid + "Can't set to zero.\n";
const std::string negative = invalid + "Can't set to negative value.\n";
const std::string over = invalid + "Can't set to over 255.\n";

INSTANTIATE_TEST_SUITE_P(WordLayout, RunCase,
                         testing::Values(sets("CountInLowByte", {"1", "1", "255"}, 0x000101FF),
                                         sets("OnTimeInSecondByte", {"1", "255", "0"}, 0x0001FF00),
                                         sets("OffTimeInThirdByte", {"255", "1", "0"}, 0x00FF0100),
                                         sets("CountZero", {"5", "5", "0"}, 0x00050500),
                                         sets("Typical", {"10", "20", "3"}, 0x000A1403),
                                         sets("AllHighest", {"255", "255", "255"}, 0x00FFFFFF),
                                         sets("AtoiGrammar", {" +10", "20ms", "\t3x"}, 0x000A1403),
                                         sets("CountNotANumberIsZero", {"5", "5", "abc"},
                                              0x00050500)),
                         case_name);

INSTANTIATE_TEST_SUITE_P(
    Validation, RunCase,
    testing::Values(refused("OffTimeZero", {"0", "5", "5"}, zero),
                    refused("OnTimeZero", {"5", "0", "5"}, zero),
                    refused("ZeroTestedBeforeOver255", {"0", "300", "1"}, zero),
                    refused("ZeroTestedBeforeNegative", {"-1", "0", "1"}, zero),
                    refused("OffTimeNotANumber", {"abc", "1", "1"}, zero),
                    refused("OffTimeNegative", {"-1", "5", "5"}, negative),
                    refused("OnTimeNegative", {"1", "-256", "0"}, negative),
                    refused("CountNegative", {"1", "1", "-1"}, negative),
                    refused("NegativeTestedBeforeOver255", {"256", "1", "-1"}, negative),
                    refused("NegativeBeyondRange", {"1", "1", "-99999999999"}, negative),
                    refused("OffTimeOver255", {"256", "1", "1"}, over),
                    refused("OnTimeOver255", {"1", "256", "1"}, over),
                    refused("CountOver255", {"5", "5", "256"}, over),
                    refused("WouldWrapToOne", {"4294967297", "1", "1"}, over),
                    refused("WouldWrapToZeroCount", {"1", "1", "4294967296"}, over),
                    refused("LargestInt", {"1", "2147483647", "1"}, over)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ArgumentCount, RunCase,
    testing::Values(
        run_case{"NoneIssuesGetRequest",
                 request_board(),
                 {},
                 "",
                 "",
                 0,
                 logged::proc_read + logged::node_open + logged::get_request(0) +
                     logged::node_close},
        refused("One", {"5"}, invalid), refused("Two", {"5", "5"}, invalid),
        refused("Four", {"1", "2", "3", "4"}, invalid),
        refused("OptionsOfTheOtherDialect", {"-t", "5"}, invalid),
        refused("VersionWithExtra", {"--version", "extra"}, invalid),
        refused("HelpOtherCase", {"--Help"}, invalid), refused("ShortVersion", {"-v"}, invalid),
        run_case{"Version",
                 request_board(),
                 {"--version"},
                 "hornset version " HORNSET_VERSION "\n",
                 "",
                 0,
                 logged::proc_read},
        run_case{"VersionUpperCase",
                 request_board(),
                 {"--VERSION"},
                 "hornset version " HORNSET_VERSION "\n",
                 "",
                 0,
                 logged::proc_read},
        run_case{"Help", request_board(), {"--help"}, help, "", 0, logged::proc_read},
        run_case{"HelpUpperCase", request_board(), {"--HELP"}, help, "", 0, logged::proc_read}),
    case_name);

// Without "/proc/lampstat" the tool still speaks this dialect, after saying so.
INSTANTIATE_TEST_SUITE_P(WithoutProcFile, RunCase,
                         testing::Values(run_case{"Set",
                                                  no_lampstat(),
                                                  {"10", "20", "3"},
                                                  "fail to open /proc/lampstat\n",
                                                  "",
                                                  0,
                                                  logged::proc_missing + logged::node_open +
                                                      logged::request(set_request_number,
                                                                      0x000A1403, "0") +
                                                      logged::node_close},
                                         run_case{"Refusal",
                                                  no_lampstat(),
                                                  {"0", "1", "1"},
                                                  "fail to open /proc/lampstat\n" + zero,
                                                  "",
                                                  1,
                                                  logged::proc_missing},
                                         run_case{"Get",
                                                  no_lampstat(),
                                                  {},
                                                  "fail to open /proc/lampstat\n",
                                                  "",
                                                  0,
                                                  logged::proc_missing + logged::node_open +
                                                      logged::get_request(0) + logged::node_close}),
                         case_name);

} // namespace
} // namespace hornset_test
