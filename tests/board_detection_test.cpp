// Which board the tool finds in "/proc/lampstat", seen through the dialect it
// then speaks: "-t 5" is a command text on a text-command board and a wrong
// argument count everywhere else.
#include "harness.h"

namespace hornset_test {
namespace {

const std::vector<std::string> probe = {"-t", "5"};

run_case text_board(const std::string& name, const scenario& board) {
    return prints(name, board, probe, says::trace("period 5"), 0,
                  logged::used(logged::write("period 5", "8")));
}

run_case request_interface(const std::string& name, const scenario& board,
                           const std::string& proc_log = logged::proc_read,
                           const std::string& message = "") {
    return prints(name, board, probe, message + says::invalid, 1, proc_log);
}

const std::string long_run(1023, 'x'); // fills the line buffer with its terminator

INSTANTIATE_TEST_SUITE_P(
    BoardDetection, RunCase,
    testing::Values(
        text_board("ModelAmongOtherText", with_lampstat("leds: on\nmodel: QTR-PN rev2\n")),
        text_board("ModelAsPartOfLongerName", with_lampstat("leds: on\nQTR-PNX\n")),
        text_board("OneLineFileSearchedWhole", with_lampstat("model: QTR-PN\n")),
        text_board("OneLineWithoutNewline", with_lampstat("QTR-PN")),
        text_board("SecondLineWithoutNewline", with_lampstat("leds\nQTR-PN")),
        request_interface("ModelOnFirstLineOnly", with_lampstat("model: QTR-PN\nleds: on\n")),
        request_interface("ModelOnThirdLine", with_lampstat("a\nb\nQTR-PN\n")),
        request_interface("OtherLetterCase", with_lampstat("leds: on\nmodel: qtr-pn\n")),
        request_interface("UnknownBoard", request_board()),
        request_interface("EmptyFile", with_lampstat("")),
        request_interface("NameSplitByNul", with_lampstat(std::string("x\nQTR\0-PN\n", 10))),
        // The second read continues a first line longer than the buffer.
        text_board("SecondPieceOfLongFirstLine", with_lampstat(long_run + "QTR-PN\nleds: on\n")),
        request_interface("LongFirstLineHidesSecondLine",
                          with_lampstat(long_run + "abc\nQTR-PN\n")),
        request_interface("NameAcrossBufferBoundary",
                          with_lampstat(long_run.substr(1) + "QTR-PN\nleds: on\n")),
        request_interface("FileMissing", no_lampstat(), logged::proc_missing, says::no_proc),
        request_interface("FileUnreadable", qtr_pn("lampstat fail EACCES\n"),
                          logged::proc_failed("EACCES"), says::no_proc)),
    case_name);

// The dialect is chosen before any argument is looked at, so each board
// answers the other dialect's arguments with its own refusal.
const std::vector<std::string> version = {"--version"};

INSTANTIATE_TEST_SUITE_P(
    DialectChoice, RunCase,
    testing::Values(run_case{"PositionalValuesOnTextBoard", qtr_pn(), set_args, "", says::no_option,
                             1, logged::proc_read},
                    run_case{"VersionOnTextBoardIsAnOption", qtr_pn(), version, says::option_list,
                             c_library::invalid_option('-') + says::bad_option, 1,
                             logged::proc_read},
                    prints("VersionWithoutProcFile", no_lampstat(), version,
                           says::no_proc + says::version, 0, logged::proc_missing),
                    prints("HelpStillAfterDetectionMessage", no_lampstat("node absent\n"),
                           {"--help"}, says::no_proc + says::help, 0, logged::proc_missing)),
    case_name);

} // namespace
} // namespace hornset_test
