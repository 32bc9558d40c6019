// The positional dialect of every other board: off time, on time and count,
// the get request, --help and --version.
#include "harness.h"

#include <cerrno>

namespace hornset_test {
namespace {

// The set request reaches the driver with this word.
run_case sets(const std::string& name, const std::vector<std::string>& args, uint32_t word) {
    return prints(name, request_board(), args, "", 0,
                  logged::used(logged::request(set_request_number, word, "0")));
}

// Refused with these lines on standard output; nothing reaches the driver.
run_case refused(const std::string& name, const std::vector<std::string>& args,
                 const std::string& out) {
    return prints(name, request_board(), args, out, 1, logged::proc_read);
}

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
    testing::Values(refused("OffTimeZero", {"0", "5", "5"}, says::zero),
                    refused("OnTimeZero", {"5", "0", "5"}, says::zero),
                    refused("ZeroTestedBeforeOver255", {"0", "300", "1"}, says::zero),
                    refused("ZeroTestedBeforeNegative", {"-1", "0", "1"}, says::zero),
                    refused("OffTimeNotANumber", {"abc", "1", "1"}, says::zero),
                    refused("OffTimeNegative", {"-1", "5", "5"}, says::negative),
                    refused("OnTimeNegative", {"1", "-256", "0"}, says::negative),
                    refused("CountNegative", {"1", "1", "-1"}, says::negative),
                    refused("NegativeTestedBeforeOver255", {"256", "1", "-1"}, says::negative),
                    refused("NegativeBeyondRange", {"1", "1", "-99999999999"}, says::negative),
                    refused("OffTimeOver255", {"256", "1", "1"}, says::over),
                    refused("OnTimeOver255", {"1", "256", "1"}, says::over),
                    refused("CountOver255", {"5", "5", "256"}, says::over),
                    refused("WouldWrapToOne", {"4294967297", "1", "1"}, says::over),
                    refused("WouldWrapToZeroCount", {"1", "1", "4294967296"}, says::over),
                    refused("LargestInt", {"1", "2147483647", "1"}, says::over)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ArgumentCount, RunCase,
    testing::Values(
        prints("NoneIssuesGetRequest", request_board(), get_args, "", 0,
               logged::used(logged::get_request(0))),
        refused("One", {"5"}, says::invalid), refused("Two", {"5", "5"}, says::invalid),
        refused("Four", {"1", "2", "3", "4"}, says::invalid),
        refused("OptionsOfTheOtherDialect", {"-t", "5"}, says::invalid),
        refused("VersionWithExtra", {"--version", "extra"}, says::invalid),
        refused("HelpOtherCase", {"--Help"}, says::invalid),
        refused("ShortVersion", {"-v"}, says::invalid),
        prints("Version", request_board(), {"--version"}, says::version, 0, logged::proc_read),
        prints("VersionUpperCase", request_board(), {"--VERSION"}, says::version, 0,
               logged::proc_read),
        prints("Help", request_board(), {"--help"}, says::help, 0, logged::proc_read),
        prints("HelpUpperCase", request_board(), {"--HELP"}, says::help, 0, logged::proc_read)),
    case_name);

// Without "/proc/lampstat" the tool still speaks this dialect, after saying so.
INSTANTIATE_TEST_SUITE_P(
    WithoutProcFile, RunCase,
    testing::Values(prints("Set", no_lampstat(), set_args, says::no_proc, 0,
                           logged::proc_missing + logged::node_open +
                               logged::request(set_request_number, set_word, "0") +
                               logged::node_close),
                    prints("Refusal", no_lampstat(), {"0", "1", "1"}, says::no_proc + says::zero, 1,
                           logged::proc_missing),
                    prints("Get", no_lampstat(), get_args, says::no_proc, 0,
                           logged::proc_missing + logged::node_open + logged::get_request(0) +
                               logged::node_close),
                    run_case{"NoDriversAtAll", no_lampstat("node absent\n"), set_args,
                             says::no_proc + says::open_error, says::open_failed(ENOENT), 1,
                             logged::proc_missing + logged::node_open_failed("ENOENT")}),
    case_name);

} // namespace
} // namespace hornset_test
