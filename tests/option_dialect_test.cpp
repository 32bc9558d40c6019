// The option dialect of text-command boards: -d, -t, -c and -p.
#include "harness.h"

namespace hornset_test {
namespace {

const std::string option_list = "\tAllowed options are:\n"
                                "\t-d    Show Buzzer Status.\n"
                                "\t-t    Buzzer Period.\n"
                                "\t-c    Repeat Count.\n"
                                "\t-p    Buzzer Pattern.\n";

// A run that sends this command text.
run_case sends(const std::string& name, const std::vector<std::string>& args,
               const std::string& command) {
    return {name,
            qtr_pn(),
            args,
            "cmd for hornio=\"" + command + "\"\n",
            "",
            0,
            logged::proc_read + logged::node_open +
                logged::write(command, std::to_string(command.size())) + logged::node_close};
}

// A usage error: brief on standard error only; full adds the option list on
// standard output. getopt's own diagnostic, if any, comes first.
run_case refused(const std::string& name, const std::vector<std::string>& args,
                 const std::string& message, bool full, const std::string& diagnostic = "") {
    return {name,
            qtr_pn(),
            args,
            full ? option_list : "",
            diagnostic + "Error: hornset - " + message + "\nUsage: hornset [-options] [value]\n",
            1,
            logged::proc_read};
}

// -d shows the status reply and ends the run.
run_case shows_status(const std::string& name, const std::vector<std::string>& args) {
    return {name,
            qtr_pn(),
            args,
            idle_reply,
            "",
            0,
            logged::proc_read + logged::node_open + logged::read_returned(idle_reply) +
                logged::node_close};
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, RunCase,
    testing::Values(refused("NoValueOption", {"extra"}, "no pattern or period option", false),
                    refused("CountAlone", {"-c", "3"}, "no pattern or period option", false),
                    sends("PeriodAlone", {"-t", "10"}, "period 10"),
                    refused("PeriodAndCount", {"-t", "10", "-c", "3"}, "no pattern option", false),
                    sends("PatternAlone", {"-p", "xyz"}, "pattern xyz"),
                    sends("PeriodAndPattern", {"-t", "10", "-p", "xyz"}, "period 10 pattern xyz"),
                    sends("CountAndPattern", {"-c", "3", "-p", "xyz"}, "count 3 pattern xyz"),
                    sends("AllThree", {"-t", "10", "-c", "3", "-p", "xyz"},
                          "period 10 count 3 pattern xyz"),
                    sends("FixedOrderWhateverTheOptionOrder", {"-p", "xyz", "-c", "3", "-t", "10"},
                          "period 10 count 3 pattern xyz"),
                    sends("ClusteredAndAttachedValues", {"-t10", "-c3", "-pxyz"},
                          "period 10 count 3 pattern xyz")),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    UsageReports, RunCase,
    testing::Values(
        refused("NoArguments", {}, "too few arguments", true),
        refused("UnknownOption", {"-x"}, "invalid option", true, c_library::invalid_option('x')),
        refused("MissingValue", {"-t"}, "invalid option", true, c_library::missing_value('t')),
        refused("LongOption", {"--help"}, "invalid option", true, c_library::invalid_option('-')),
        refused("UnknownAfterGoodOptions", {"-t", "10", "-z", "-p", "x"}, "invalid option", true,
                c_library::invalid_option('z')),
        refused("PeriodZero", {"-t", "0"}, "invalid period value", false),
        refused("PeriodNotANumber", {"-t", "abc"}, "invalid period value", false),
        refused("PeriodEmpty", {"-t", ""}, "invalid period value", false),
        refused("CountZero", {"-c", "0", "-p", "x"}, "invalid count value", false),
        refused("CountNotANumber", {"-p", "x", "-c", "none"}, "invalid count value", false),
        refused("EmptyPatternIsNoPattern", {"-p", ""}, "no pattern or period option", false),
        refused("LaterEmptyPatternClears", {"-p", "x", "-p", "", "-c", "2"},
                "no pattern or period option", false)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Values, RunCase,
    testing::Values(
        sends("TrailingTextIgnored", {"-t", "12abc"}, "period 12"),
        sends("NegativePeriod", {"-t", "-5"}, "period -5"),
        sends("LeadingBlanksAndPlus", {"-t", " \t+7", "-c", "\n-3", "-p", "p"},
              "period 7 count -3 pattern p"),
        sends("LargeValuesPassToDriver", {"-t", "100000", "-c", "256", "-p", "p"},
              "period 100000 count 256 pattern p"),
        sends("LargestPeriod", {"-t", "2147483647"}, "period 2147483647"),
        sends("SmallestPeriod", {"-t", "-2147483648"}, "period -2147483648"),
        sends("LeadingZeros", {"-t", "000000000000042"}, "period 42"),
        refused("PeriodBeyondRange", {"-t", "2147483648"}, "invalid period value", false),
        refused("PeriodWouldWrapToOne", {"-t", "4294967297"}, "invalid period value", false),
        refused("PeriodBelowRange", {"-t", "-2147483649"}, "invalid period value", false),
        refused("CountBeyondRange", {"-p", "x", "-c", "99999999999999999999"},
                "invalid count value", false),
        refused("CountWouldWrapToOne", {"-p", "x", "-c", "4294967297"}, "invalid count value",
                false)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    OptionOrder, RunCase,
    testing::Values(
        sends("LaterPeriodOverrides", {"-t", "10", "-t", "20"}, "period 20"),
        sends("LaterPatternOverrides", {"-p", "a", "-p", "b"}, "pattern b"),
        sends("LaterCountOverrides", {"-c", "1", "-p", "x", "-c", "2"}, "count 2 pattern x"),
        shows_status("StatusAloneShown", {"-d"}),
        shows_status("OptionsAfterStatusNeverSeen", {"-d", "-c", "0", "-x"}),
        shows_status("OptionsBeforeStatusTaken", {"-t", "10", "-p", "x", "-d"}),
        refused("BadValueBeforeStatus", {"-c", "0", "-d"}, "invalid count value", false),
        refused("UnknownOptionBeforeStatus", {"-q", "-d"}, "invalid option", true,
                c_library::invalid_option('q')),
        shows_status("StatusClusteredWithOthers", {"-dt", "0"}),
        sends("WordAfterOptionsIgnored", {"-t", "10", "extra"}, "period 10"),
        sends("WordBeforeOptionsSkipped", {"extra", "-t", "10"}, "period 10"),
        sends("DoubleDashEndsOptions", {"-t", "10", "--", "-p", "x"}, "period 10")),
    case_name);

// Words that are not options are ignored wherever they stand, with every C
// library and in every environment; "--" still ends the options.
INSTANTIATE_TEST_SUITE_P(
    WordsThatAreNotOptions, RunCase,
    testing::Values(refused("WordBetweenPeriodAndCount", {"-t", "5", "foo", "-c", "3"},
                            "no pattern option", false),
                    sends("WordsEverywhere", {"a", "-t", "10", "b", "-c", "3", "c", "-p", "x", "d"},
                          "period 10 count 3 pattern x"),
                    sends("WordsBeforeClusteredOptions", {"a", "b", "-t10", "-pxyz"},
                          "period 10 pattern xyz"),
                    sends("LoneDashFirst", {"-", "-t", "10"}, "period 10"),
                    sends("LoneDashBetween", {"-t", "10", "-", "-p", "x"}, "period 10 pattern x"),
                    sends("LoneDashAsValue", {"-p", "-"}, "pattern -"),
                    shows_status("WordBeforeStatus", {"extra", "-d"}),
                    refused("WordBeforeUnknownOption", {"extra", "-x"}, "invalid option", true,
                            c_library::invalid_option('x')),
                    refused("WordBeforeMissingValue", {"extra", "-t"}, "invalid option", true,
                            c_library::missing_value('t')),
                    refused("WordsOnly", {"a", "-", "b"}, "no pattern or period option", false),
                    refused("DoubleDashAfterWord", {"extra", "--", "-t", "10"},
                            "no pattern or period option", false),
                    sends("NothingAfterDoubleDashLookedAt",
                          {"-t", "10", "--", "extra", "-c", "0", "-x"}, "period 10"),
                    sends("DoubleDashAsValue", {"-p", "--", "-t", "1"}, "period 1 pattern --")),
    case_name);

// Every case runs with POSIXLY_CORRECT=1 as well (the harness); glibc looks
// only at whether it is set, so other values must not matter either.
TEST(Environment, PosixlyCorrectWithAnyValueChangesNothing) {
    const run_case expected =
        sends("WordFirst", {"extra", "-t", "10", "more", "-p", "x"}, "period 10 pattern x");
    for (const char* setting : {"POSIXLY_CORRECT=", "POSIXLY_CORRECT=0", "POSIXLY_CORRECT=yes"}) {
        const outcome result =
            run_hornset(expected.board, expected.args, output::captured, {setting});
        EXPECT_EQ(result.out, expected.out) << setting;
        EXPECT_EQ(result.err, expected.err) << setting;
        EXPECT_EQ(result.status, expected.status) << setting;
        EXPECT_EQ(result.log, expected.log) << setting;
    }
}

const std::string longest_pattern(1999, 'p');

INSTANTIATE_TEST_SUITE_P(
    Patterns, RunCase,
    testing::Values(
        sends("Spaces", {"-p", "a b  c "}, "pattern a b  c "),
        sends("PercentSigns", {"-p", "%s%d%%n"}, "pattern %s%d%%n"),
        sends("Quotes", {"-p", "say \"hi\" 'x'"}, "pattern say \"hi\" 'x'"),
        sends("EightBitBytes", {"-p", "\xc3\xa9\xff"}, "pattern \xc3\xa9\xff"),
        sends("ControlCharacters", {"-p", "a\tb\nc"}, "pattern a\tb\nc"),
        sends("LooksLikeAnOption", {"-p", "-t"}, "pattern -t"),
        // The command buffer holds 1999 bytes and its terminator.
        sends("LongestCommand", {"-p", longest_pattern.substr(8)},
              "pattern " + longest_pattern.substr(8)),
        sends("LongestCommandWithAllItems",
              {"-t", "-2147483648", "-c", "-2147483648", "-p", longest_pattern.substr(45)},
              "period -2147483648 count -2147483648 pattern " + longest_pattern.substr(45)),
        refused("CommandOneByteTooLong", {"-p", longest_pattern.substr(7)}, "command too long",
                false),
        refused("CommandTooLongWithPeriod", {"-t", "1", "-p", longest_pattern.substr(16)},
                "command too long", false),
        refused("LongestPatternStillTooLongACommand", {"-p", longest_pattern}, "command too long",
                false),
        refused("PatternTooLong", {"-p", longest_pattern + "p"}, "pattern too long", false),
        refused("PatternTooLongBeforeStatus", {"-p", longest_pattern + "p", "-d"},
                "pattern too long", false)),
    case_name);

} // namespace
} // namespace hornset_test
