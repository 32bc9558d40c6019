// The option dialect of text-command boards: -d, -t, -c and -p.
#include "harness.h"

namespace hornset_test {
namespace {

// A run that sends this command text.
run_case sends(const std::string& name, const std::vector<std::string>& args,
               const std::string& command, const streams& given = {}) {
    run_case c = prints(name, qtr_pn(), args, says::trace(command), 0,
                        logged::used(logged::write(command, std::to_string(command.size()))));
    c.given = given;
    return c;
}

// -d shows the status reply and ends the run.
run_case shows_status(const std::string& name, const std::vector<std::string>& args) {
    run_case c = succeeds(name, op::read);
    c.args = args;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, RunCase,
    testing::Values(refused("CountAlone", {"-c", "3"}, says::no_option),
                    refused("PeriodAndCount", {"-t", "10", "-c", "3"}, says::no_pattern),
                    sends("FixedOrderWhateverTheOptionOrder", {"-p", "xyz", "-c", "3", "-t", "10"},
                          "period 10 count 3 pattern xyz"),
                    // Option order: the last of each option counts; -d ends the options.
                    sends("LaterOfEachOptionCounts",
                          {"-t", "1", "-c", "1", "-p", "a", "-t", "2", "-p", "b", "-c", "2"},
                          "period 2 count 2 pattern b"),
                    shows_status("OptionsAfterStatusNeverSeen", {"-d", "-c", "0", "-x"}),
                    shows_status("OptionsBeforeStatusTaken", {"-t", "10", "-p", "x", "-d"}),
                    refused("BadValueBeforeStatus", {"-c", "0", "-d"}, says::bad_count),
                    unknown("UnknownOptionBeforeStatus", {"-q", "-d"}, 'q'),
                    shows_status("StatusClusteredWithOthers", {"-dt", "0"}),
                    // Words that are not options are ignored wherever they stand, with every C
                    // library and in every environment (glibc looks only at whether POSIXLY_CORRECT
                    // is set); "--" still ends the options.
                    sends("WordsEverywhere", {"a", "-t", "10", "b", "-c", "3", "c", "-p", "x", "d"},
                          "period 10 count 3 pattern x"),
                    sends("WordsBeforeAttachedValues", {"a", "b", "-t10", "-c3", "-pxyz"},
                          "period 10 count 3 pattern xyz"),
                    sends("LoneDashes", {"-", "-t", "10", "-", "-p", "x"}, "period 10 pattern x"),
                    sends("LoneDashAsValue", {"-p", "-"}, "pattern -"),
                    shows_status("WordBeforeStatus", {"extra", "-d"}),
                    unknown("WordBeforeUnknownOption", {"extra", "-x"}, 'x'),
                    unknown("WordBeforeMissingValue", {"extra", "-t"}, 't', true),
                    refused("WordsOnly", {"a", "-", "b"}, says::no_option),
                    refused("DoubleDashAfterWord", {"extra", "--", "-t", "10"}, says::no_option),
                    sends("NothingAfterDoubleDashLookedAt",
                          {"-t", "10", "--", "extra", "-c", "0", "-x"}, "period 10"),
                    sends("DoubleDashAsValue", {"-p", "--", "-t", "1"}, "period 1 pattern --"),
                    sends("WordFirstPosixlyCorrectEmpty", {"extra", "-t", "10", "more", "-p", "x"},
                          "period 10 pattern x", {{}, 0, {"POSIXLY_CORRECT="}})),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    UsageReports, RunCase,
    testing::Values(
        refused("NoArguments", {}, says::too_few), unknown("UnknownOption", {"-x"}, 'x'),
        unknown("MissingValue", {"-t"}, 't', true), unknown("LongOption", {"--help"}, '-'),
        unknown("UnknownAfterGoodOptions", {"-t", "10", "-z", "-p", "x"}, 'z'),
        refused("PeriodZero", {"-t", "0"}, says::bad_period),
        refused("PeriodNotANumber", {"-t", "abc"}, says::bad_period),
        refused("CountNotANumber", {"-p", "x", "-c", "none"}, says::bad_count),
        refused("LaterEmptyPatternClears", {"-p", "x", "-p", "", "-c", "2"}, says::no_option),
        // Values: atoi's grammar, refused beyond the range of an int.
        sends("NegativeWithTrailingText", {"-t", "-12abc"}, "period -12"),
        sends("LeadingBlanksAndPlus", {"-t", " \t+7", "-c", "\n-3", "-p", "p"},
              "period 7 count -3 pattern p"),
        sends("LargeValuesPassToDriver", {"-t", "2147483647", "-c", "256", "-p", "p"},
              "period 2147483647 count 256 pattern p"),
        sends("LeadingZeros", {"-t", "000000000000042"}, "period 42"),
        refused("PeriodBeyondRange", {"-t", "2147483648"}, says::bad_period),
        refused("PeriodWouldWrapToOne", {"-t", "4294967297"}, says::bad_period),
        refused("PeriodBelowRange", {"-t", "-2147483649"}, says::bad_period),
        refused("CountBeyondRange", {"-p", "x", "-c", "99999999999999999999"}, says::bad_count),
        refused("CountWouldWrapToOne", {"-p", "x", "-c", "4294967297"}, says::bad_count)),
    case_name);

const std::string longest_pattern(HORNIO_TEXT_SIZE - 1, 'p');
const std::string verbatim = "a b  c %s%d%%n say \"hi\" 'x' \xc3\xa9\xff\tb\nc ";

INSTANTIATE_TEST_SUITE_P(
    Patterns, RunCase,
    testing::Values(
        sends("BytesVerbatim", {"-p", verbatim}, "pattern " + verbatim),
        sends("LooksLikeAnOption", {"-p", "-t"}, "pattern -t"),
        // The command buffer holds its size less one byte and the terminator.
        sends("LongestCommand", {"-p", longest_pattern.substr(8)},
              "pattern " + longest_pattern.substr(8)),
        sends("LongestCommandWithAllItems",
              {"-t", "-2147483648", "-c", "-2147483648", "-p", longest_pattern.substr(45)},
              "period -2147483648 count -2147483648 pattern " + longest_pattern.substr(45)),
        refused("CommandOneByteTooLong", {"-p", longest_pattern.substr(7)}, says::command_too_long),
        refused("CommandTooLongWithPeriod", {"-t", "1", "-p", longest_pattern.substr(16)},
                says::command_too_long),
        refused("LongestPatternStillTooLongACommand", {"-p", longest_pattern},
                says::command_too_long),
        refused("PatternTooLongBeforeStatus", {"-p", longest_pattern + "p", "-d"},
                says::pattern_too_long)),
    case_name);

} // namespace
} // namespace hornset_test
