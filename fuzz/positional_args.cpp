// Any argument vector through the positional front end, on a driver that
// works or fails in any way. Besides the sanitizers, checks what the dialect
// promises whatever its arguments: a status of 0 or 1, no device access after
// a refusal, one request at most, a set word whose top byte is zero and whose
// off and on times are not, and a driver's answer reported as it was.
#include "front_ends.h"
#include "in_process_board.h"

#include <cstdint>
#include <string>

namespace {

void check(const fuzz::run_result& result) {
    const fuzz::board_state& b = fuzz::board();
    fuzz::check_run(result);
    if (fuzz::starts_with(result.out, "Error: Invalid parameter.\n") &&
        (b.opens != 0 || result.status != 1)) {
        fuzz::fail("a refused command line touched the device or succeeded", &result);
    }
    if (b.operations == 0) {
        return;
    }
    const auto word = static_cast<uint32_t>(b.request_word);
    if (b.request_number == HORNIO_SET_REQUEST &&
        ((word >> 24U) != 0 || (word >> 16U & 0xffU) == 0 || (word >> 8U & 0xffU) == 0)) {
        fuzz::fail("the set word is out of its ranges", &result);
    }
    if (b.request_number != HORNIO_SET_REQUEST && b.request_number != HORNIO_GET_REQUEST) {
        fuzz::fail("a request other than set and get", &result);
    }
    const bool served = b.driver_result == 0;
    if (served != (result.status == 0) ||
        (served && (!result.out.empty() || !result.err.empty()))) {
        fuzz::fail("the driver's answer was not reported as it was", &result);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size != 0) {
        check(fuzz::run_on_input(positional_front_end, data, size));
    }
    return 0;
}
