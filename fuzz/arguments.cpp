// Any argument vector through FRONT_END (whose dialect speaks through REQUESTS, or writes and
// reads) on a driver that works or fails in any way: the first byte chooses the node's fault,
// the rest are the arguments, NUL-separated. The properties below hold whatever the arguments.
#include "front_ends.h"
#include "in_process_board.h"

#include "hornio.h"

#include <algorithm>
#include <cstdint>
#include <utility>

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
    constexpr bool requests = REQUESTS;
    const bool used = r.operations != 0;
    const std::pair<bool, const char*> properties[] = {
        {r.status == 0 || r.status == 1, "status is 0 or 1"},
        {r.opens <= 1 && r.operations <= 1 && r.closes <= r.opens, "one device operation at most"},
        {!used || (r.request != 0) == requests, "an operation of the dialect's kind"},
        {!used || r.served == (r.status == 0), "the driver's answer reported as it was"},
        {r.status != 0 || (r.opens == r.operations && r.closes == r.opens && r.err.empty()),
         "after success, the node used and closed and no error printed"},
        {r.fault || r.status == 0 || r.opens == 0,
         "with a working driver, a failing run never reached the device (no refusal after "
         "opening it, no command the driver refuses)"},
        {r.written < HORNIO_TEXT_SIZE, "the command text fits its buffer"},
    };
    for (const auto& [holds, what] : properties) {
        if (!holds) {
            fuzz::fail(what, r);
        }
    }
    return 0;
}
