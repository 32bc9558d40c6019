// Fails loudly when the emulated board is not in effect (a statically linked
// hornset, a wrong preload path), instead of letting the suite pass vacuously.
#include "harness.h"

namespace hornset_test {
namespace {

TEST(Canary, EmulatedBoardIsInEffect) {
    const std::string token = "canary reply 7f3a9c\n";
    const outcome result = run_hornset(with_reply(token), {"-d"});
    ASSERT_EQ(result.out, token)
        << "hornset did not read the emulated driver's reply: the emulated board is not in "
           "effect (is hornset statically linked, or the preload library missing?)\n"
        << result;
    EXPECT_EQ(result.log, logged::proc_read + logged::node_open + logged::read_returned(token) +
                              logged::node_close);
}

} // namespace
} // namespace hornset_test
