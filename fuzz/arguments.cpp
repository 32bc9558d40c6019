// Any argument vector through FRONT_END (the build makes a target of each front end), on a
// driver that works or fails in any way: the input's first byte chooses the node's fault, the
// rest are the arguments, NUL-separated. Besides the sanitizers, checks what holds whatever the
// arguments: a status of 0 or 1; one operation at most, of the dialect's kind (a request or
// not); the driver's answer reported as it was; after success the node used and closed and
// nothing on standard error; with a working driver, a failure that never reached the device
// (nothing sent after a refusal, nothing sent that the driver refuses); a command that fits the
// tool's buffer.
#include "front_ends.h"
#include "in_process_board.h"

#include "hornio.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t most_arguments = 64;
    if (size == 0) {
        return 0;
    }
    std::vector<std::string> arguments;
    for (const uint8_t* at = data + 1; at < data + size && arguments.size() < most_arguments;) {
        const uint8_t* const nul = std::find(at, data + size, 0);
        arguments.emplace_back(at, nul);
        at = nul + 1;
    }
    fuzz::board board;
    board.fault = data[0];
    const fuzz::run_result r = fuzz::run(board, FRONT_END, arguments);
    const bool requests = FRONT_END == positional_front_end;
    const char* broken = nullptr;
    if (r.status != 0 && r.status != 1) {
        broken = "status is neither 0 nor 1";
    } else if (r.opens > 1 || r.operations > 1 || r.closes > r.opens) {
        broken = "more than one device operation";
    } else if (r.operations != 0 && (r.request != 0) != requests) {
        broken = "an operation of the other dialect";
    } else if (r.operations != 0 && r.served != (r.status == 0)) {
        broken = "the driver's answer was not reported as it was";
    } else if (r.status == 0 &&
               (r.opens != r.operations || r.closes != r.opens || !r.err.empty())) {
        broken = "a successful run left the node unused or open, or printed an error";
    } else if (!r.fault && r.status == 1 && r.opens != 0) {
        broken = "with a working driver, a failing run reached the device";
    } else if (r.written >= HORNIO_TEXT_SIZE) {
        broken = "the command text overflows its buffer";
    }
    if (broken != nullptr) {
        fuzz::fail(broken, r);
    }
    return 0;
}
