// Fails loudly when the emulated board is not in effect (a statically linked
// hornset, a wrong preload path), instead of letting the suite pass vacuously.
#include "harness.h"

#include <climits>
#include <cstdlib>

namespace hornset_test {
namespace {

TEST(Canary, EmulatedBoardIsInEffect) {
    const std::string token = "canary reply 7f3a9c\n";
    const outcome result = run_hornset(with_reply(token), {"-d"});
    ASSERT_EQ(result.out, token)
        << "hornset did not read the emulated driver's reply: the emulated board is not in "
           "effect (is hornset statically linked, or the preload library missing?)\n"
        << result;
    EXPECT_EQ(result.log, recorded(logged::used(logged::read_returned(token)), with_reply(token)));
}

// Under qemu-user the target's loader must take the toolchain's own C library, not one of the
// same name the build machine has for itself (its 32-bit x86 /lib32, say): the suite would
// test another build of glibc, and fork in it hangs.
TEST(Canary, EmulatedHornsetLoadsTheToolchainsCLibrary) {
    const char* const expected_dir = HORNSET_TEST_LIBC_DIR;
    if (*expected_dir == '\0' || on_module()) {
        GTEST_SKIP() << "no toolchain's C library to check against here";
    }
    // glibc's loader lists what it loaded and stops before hornset runs.
    streams given;
    given.environment = {"LD_TRACE_LOADED_OBJECTS=1"};
    const outcome listed = run_hornset(qtr_pn(), {}, given);
    const std::string arrow = "libc.so.6 => ";
    const size_t at = listed.out.find(arrow);
    ASSERT_NE(at, std::string::npos) << listed;
    const size_t start = at + arrow.size();
    const std::string path = listed.out.substr(start, listed.out.find(' ', start) - start);
    char real[PATH_MAX];
    ASSERT_NE(realpath(path.c_str(), real), nullptr) << path;
    const std::string real_path = real;
    EXPECT_EQ(real_path.substr(0, real_path.rfind('/')), expected_dir) << listed;
}

} // namespace
} // namespace hornset_test
