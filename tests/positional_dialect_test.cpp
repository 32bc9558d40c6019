// The positional dialect of every other board: off time, on time and count,
// the get request, --help and --version; and which board the tool finds in
// "/proc/lampstat", seen through the dialect it then speaks.
#include "harness.h"
#include "number.h"

#include <cerrno>

namespace hornset_test {
namespace {

using logged::proc_read;

// The set request reaches the driver with this word.
run_case sets(const std::string& name, const std::vector<std::string>& args, uint32_t word) {
    return prints(name, request_board(), args, "", 0,
                  logged::used(logged::request(HORNIO_SET_REQUEST, word, "0")));
}

// Answered with these lines on standard output (refused, unless the status is 0); nothing
// reaches the driver.
run_case rejects(const std::string& name, const std::vector<std::string>& args,
                 const std::string& out, int status = 1) {
    return prints(name, request_board(), args, out, status, proc_read);
}

INSTANTIATE_TEST_SUITE_P(WordLayout, RunCase,
                         testing::Values(sets("CountInLowByte", {"1", "1", "255"}, 0x000101FF),
                                         sets("OnTimeInSecondByte", {"1", "255", "0"}, 0x0001FF00),
                                         sets("OffTimeInThirdByte", {"255", "1", "0"}, 0x00FF0100),
                                         sets("AllHighest", {"255", "255", "255"}, 0x00FFFFFF),
                                         sets("AtoiGrammar", {" +10", "20ms", "\t3x"}, set_word),
                                         sets("CountNotANumberIsZero", {"5", "5", "abc"},
                                              0x00050500)),
                         case_name);

INSTANTIATE_TEST_SUITE_P(
    Validation, RunCase,
    testing::Values(rejects("OffTimeZeroBeforeOver255", {"0", "300", "1"}, says::zero),
                    rejects("OnTimeZeroBeforeNegative", {"-1", "0", "1"}, says::zero),
                    rejects("OffTimeNotANumber", {"abc", "1", "1"}, says::zero),
                    rejects("OffTimeNegative", {"-1", "5", "5"}, says::negative),
                    rejects("OnTimeNegative", {"1", "-256", "0"}, says::negative),
                    rejects("CountNegativeBeforeOver255", {"256", "1", "-1"}, says::negative),
                    rejects("NegativeBeyondRange", {"1", "1", "-99999999999"}, says::negative),
                    rejects("OffTimeOver255", {"256", "1", "1"}, says::over),
                    rejects("OnTimeOver255", {"1", "256", "1"}, says::over),
                    rejects("CountOver255", {"5", "5", "256"}, says::over),
                    rejects("WouldWrapToOne", {"4294967297", "1", "1"}, says::over),
                    rejects("WouldWrapToZeroCount", {"1", "1", "4294967296"}, says::over),
                    rejects("LargestInt", {"1", "2147483647", "1"}, says::over)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ArgumentCount, RunCase,
    testing::Values(rejects("One", {"5"}, says::invalid), rejects("Two", {"5", "5"}, says::invalid),
                    rejects("Four", {"1", "2", "3", "4"}, says::invalid),
                    rejects("VersionWithExtra", {"--version", "extra"}, says::invalid),
                    rejects("HelpOtherCase", {"--Help"}, says::invalid),
                    rejects("ShortVersion", {"-v"}, says::invalid),
                    rejects("Version", {"--version"}, says::version, 0),
                    rejects("VersionUpperCase", {"--VERSION"}, says::version, 0),
                    rejects("Help", {"--help"}, says::help, 0),
                    rejects("HelpUpperCase", {"--HELP"}, says::help, 0)),
    case_name);

const std::string long_run(1023, 'x'); // fills the line buffer with its terminator

// "-t 5" is a command text on a text-command board and a wrong argument count elsewhere.
run_case text_board(const std::string& name, const std::string& lampstat) {
    return prints(name, scenario{lampstat}, {"-t", "5"}, says::trace("period 5"), 0,
                  logged::used(logged::write("period 5", "8")));
}

// A board with the request interface: "-t 5" is a wrong argument count there.
run_case request_interface(const std::string& name, const scenario& board) {
    return prints(name, board, {"-t", "5"}, says::invalid, 1, proc_read);
}

INSTANTIATE_TEST_SUITE_P(
    BoardDetection, RunCase,
    testing::Values(
        text_board("ModelAmongOtherText", "leds: on\nmodel: QTR-PN rev2\n"),
        text_board("ModelAsPartOfLongerName", "leds: on\nQTR-PNX\n"),
        text_board("OneLineFileSearchedWhole", "model: QTR-PN\n"),
        text_board("OneLineWithoutNewline", "QTR-PN"),
        text_board("SecondLineWithoutNewline", "leds\nQTR-PN"),
        request_interface("ModelOnFirstLineOnly", {"model: QTR-PN\nleds: on\n"}),
        request_interface("ModelOnThirdLine", {"a\nb\nQTR-PN\n"}),
        request_interface("OtherLetterCase", {"leds: on\nmodel: qtr-pn\n"}),
        request_interface("UnknownBoard", request_board()), request_interface("EmptyFile", {""}),
        request_interface("NameSplitByNul", {std::string("x\nQTR\0-PN\n", 10)}),
        // The second read continues a first line longer than the buffer.
        text_board("SecondPieceOfLongFirstLine", long_run + "QTR-PN\nleds: on\n"),
        request_interface("LongFirstLineHidesSecondLine", {long_run + "abc\nQTR-PN\n"}),
        request_interface("NameAcrossBufferBoundary", {long_run.substr(1) + "QTR-PN\nleds: on\n"}),
        without_proc(request_interface("FileMissing", request_board())),
        without_proc(request_interface("FileUnreadable", qtr_pn()), "EACCES"),
        // Without the file the tool still speaks the positional dialect, after saying so.
        without_proc(succeeds("SetWithoutProcFile", op::set)),
        without_proc(rejects("RefusalWithoutProcFile", {"0", "1", "1"}, says::zero)),
        without_proc(succeeds("GetWithoutProcFile", op::get)),
        without_proc(rejects("VersionWithoutProcFile", {"--version"}, says::version, 0)),
        without_proc(open_fails("NoDriversAtAll", op::set, "node absent\n", ENOENT)),
        without_proc(prints("HelpStillAfterDetectionMessage", request_board("node absent\n"),
                            {"--help"}, says::help, 0, proc_read)),
        // The dialect is chosen before any argument is looked at, so each board
        // answers the other dialect's arguments with its own refusal.
        refused("PositionalValuesOnTextBoard", set_args, says::no_option),
        unknown("VersionOnTextBoardIsAnOption", {"--version"}, '-')),
    case_name);

// The one numeric conversion: atoi's grammar without its wrap-around (the
// values the command lines above reach are checked there).
TEST(ToInt32, KeepsAtoiGrammarAndRefusesToWrap) {
    const std::tuple<const char*, int32_t, bool> cases[] = {
        {"0", 0, true},
        {"", 0, true},
        {"-", 0, true},
        {" \t\n\v\f\r7", 7, true},
        {"--7", 0, true},
        {"7 8", 7, true},
        {"0x1F", 0, true},
        {"-4294967297", INT32_MIN, false},
        {"99999999999999999999999999", INT32_MAX, false},
        {"2147483648abc", INT32_MAX, false}};
    for (const auto& [text, expected, in_range] : cases) {
        int32_t value = 12345;
        EXPECT_EQ(to_int32(text, &value), in_range) << '"' << text << '"';
        EXPECT_EQ(value, expected) << '"' << text << '"';
    }
}

} // namespace
} // namespace hornset_test
