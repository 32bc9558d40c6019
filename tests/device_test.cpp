// Every operation on "/dev/hornio" and every way it can fail; and the emulated board itself.
#include "harness.h"

#include <cerrno>
#include <filesystem>
#include <regex>

namespace hornset_test {
namespace {

using logged::used;

// The node cannot be opened, or is no device, on each operation: nothing reaches the driver.
std::vector<run_case> open_failures() {
    const std::tuple<std::string, const char*, int> failures[] = {
        {"NodeMissing", "node absent\n", ENOENT}, {"NoPermission", "open fail EACCES\n", EACCES},
        {"NodeBusy", "open fail EBUSY\n", EBUSY}, {"RegularFile", "node regular\n", ENODEV},
        {"Fifo", "node fifo\n", ENODEV},
    };
    std::vector<run_case> cases;
    for (const auto& [name, directive, error] : failures) {
        for (const auto& [on, o] : {std::pair{"OnWrite", op::write},
                                    {"OnRead", op::read},
                                    {"OnSet", op::set},
                                    {"OnGet", op::get}}) {
            cases.push_back(open_fails(name + on, o, directive, error));
        }
    }
    // Standard output closed, the node lands there; no descriptor above the standard ones is
    // left to move it to.
    run_case c = open_fails("NoDescriptorAboveStdio", op::set, "", EMFILE);
    c.out = "";
    c.given = {{1}, 3};
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(OpenFailure, RunCase, testing::ValuesIn(open_failures()), case_name);

INSTANTIATE_TEST_SUITE_P(
    CommandWrite, RunCase,
    testing::Values(succeeds("SendsExactlyTheText", op::write),
                    // A write that moves some bytes is the driver's success.
                    prints("ShortWriteSucceeds", qtr_pn("write return 3\n"), {"-t", "10"},
                           says::trace("period 10"), 0, used(logged::write("period 10", "3"))),
                    driver_fails("ZeroBytesTransferred", op::write, "0"),
                    driver_fails("NoSpace", op::write, "ENOSPC"),
                    // The tool does not retry: an interrupted write is a failed write.
                    driver_fails("InterruptedWriteFails", op::write, "EINTR")),
    case_name);

const std::string full_reply(HORNIO_TEXT_SIZE, 'r');

run_case status_read(const std::string& name, const std::string& reply, const std::string& shown) {
    return prints(name, qtr_pn("", reply), read_args, shown, 0,
                  used(logged::read_returned(reply.substr(0, HORNIO_TEXT_SIZE))));
}

// The driver reports count bytes read, its reply padded with 'x' to the buffer's size:
// over the buffer's size, a failed read.
run_case counted_read(const std::string& name, long count) {
    const std::string directive = "read return " + std::to_string(count) + "\n";
    const std::string padded = idle_reply + std::string(HORNIO_TEXT_SIZE - idle_reply.size(), 'x');
    if (count == HORNIO_TEXT_SIZE) {
        return prints(name, qtr_pn(directive), read_args, padded, 0,
                      used(logged::read_returned(padded)));
    }
    run_case c = driver_fails(name, op::read, std::to_string(count));
    c.log = logged::failed(logged::read_returned(padded, count));
    // The sanitizer's read interceptor stops the run on the driver's count.
    c.skip = HORNSET_TEST_SANITIZED ? "AddressSanitizer takes the count for an overflow" : "";
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    StatusRead, RunCase,
    testing::Values(succeeds("DriversOwnReply", op::read),
                    status_read("LongerReplyCutAtBuffer", full_reply + "beyond", full_reply),
                    status_read("StopsAtNul", std::string("on\0after\n", 9), "on"),
                    // Shown byte for byte, no newline added.
                    status_read("BytesVerbatim", "100% %s %n \xff\x80\x01",
                                "100% %s %n \xff\x80\x01"),
                    // A short read is shown as read, nothing of the rest of the buffer.
                    prints("ShortReadShownAsRead", qtr_pn("read return 3\n"), read_args, "sta", 0,
                           used(logged::read_returned("sta"))),
                    driver_fails("ZeroBytes", op::read, "0"),
                    driver_fails("Interrupted", op::read, "EINTR"),
                    driver_fails("TryAgain", op::read, "EAGAIN"),
                    // A driver reporting more than the buffer holds: nothing beyond it is shown.
                    counted_read("CountBeyondBuffer", HORNIO_TEXT_SIZE + 1),
                    counted_read("CountOfWholeBuffer", HORNIO_TEXT_SIZE)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Requests, RunCase,
    testing::Values(succeeds("SetCarriesWordByAddress", op::set),
                    succeeds("GetStartsWithZeroWord", op::get),
                    succeeds("SetThroughSymbolicLink", op::set, "node link\n"),
                    driver_fails("SetNotATty", op::set, "ENOTTY"),
                    driver_fails("GetTimesOut", op::get, "ETIMEDOUT"),
                    // Any request result but 0 fails, also negative ones without an error.
                    driver_fails("SetPositiveResult", op::set, "1"),
                    driver_fails("SetNegativeResult", op::set, "-2"),
                    driver_fails("GetPositiveResult", op::get, "7"),
                    driver_fails("GetMinusOneWithoutError", op::get, "-1"),
                    // A proc file that cannot be read leaves the request interface; the
                    // request then goes out as usual.
                    without_proc(succeeds("ProcFileErrorThenSet", op::set), "EIO")),
    case_name);

// Fails loudly when the emulated board is not in effect (a statically linked hornset, a wrong
// preload path), and when a run meets the board an earlier run left: the emulated driver
// remembers its last setting within a scenario.
TEST(Canary, EmulatedBoardIsInEffectAndFreshForEachRun) {
    const std::string token = "canary reply 7f3a9c\n";
    ASSERT_EQ(run_hornset(qtr_pn("", token), read_args).out, token) << "no emulated driver";
    ASSERT_EQ(run_hornset(qtr_pn(), {"-p", "abc"}).status, 0);
    EXPECT_EQ(run_hornset(qtr_pn(), read_args).out, idle_reply) << "an earlier run's state kept";
}

// Under qemu-user the target's loader must take the toolchain's own C library, not one of the
// same name the build machine has for itself (its 32-bit x86 /lib32, say): the suite would
// test another build of glibc, and fork in it hangs.
TEST(Canary, EmulatedHornsetLoadsTheToolchainsCLibrary) {
    if (*HORNSET_TEST_LIBC_DIR == '\0' || on_module()) {
        GTEST_SKIP() << "no toolchain's C library to check against here";
    }
    // glibc's loader lists what it loaded and stops before hornset runs.
    const outcome listed = run_hornset(qtr_pn(), {}, {{}, 0, {"LD_TRACE_LOADED_OBJECTS=1"}});
    std::smatch libc;
    ASSERT_TRUE(std::regex_search(listed.out, libc, std::regex("libc\\.so\\.6 => (\\S+)")))
        << listed.out;
    EXPECT_EQ(std::filesystem::canonical(libc[1].str()).parent_path(), HORNSET_TEST_LIBC_DIR)
        << listed.out;
}

} // namespace
} // namespace hornset_test
