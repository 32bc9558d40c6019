// Any argument vector through the option front end, on a driver that works
// or fails in any way. Besides the sanitizers, checks what the dialect
// promises whatever its arguments: a status of 0 or 1, no device access after
// a usage error, a command text that fits its buffer and is exactly what the
// trace line shows, one operation at most, the driver's answer reported as it
// was, and a node closed after every successful run.
#include "front_ends.h"
#include "in_process_board.h"

#include <cstdint>
#include <string>

namespace {

void check(const fuzz::run_result& result) {
    const fuzz::board_state& b = fuzz::board();
    fuzz::check_run(result);
    if (b.request_number != 0) {
        fuzz::fail("the option dialect issued a request", &result);
    }
    // A node that opens but is not a character device takes nothing.
    if (b.not_a_device && b.operations != 0) {
        fuzz::fail("a command was written to a node that is not a device", &result);
    }
    if (result.status == 0 && b.closes != b.opens) {
        fuzz::fail("the node was left open by a successful run", &result);
    }
    if (result.err.find("Error: hornset - ") != std::string::npos &&
        (b.opens != 0 || result.status != 1)) {
        fuzz::fail("a usage error touched the device or succeeded", &result);
    }
    const bool wrote = !b.written.empty();
    if (wrote) {
        const std::string& command = b.written;
        if (command.size() >= HORNIO_TEXT_SIZE) {
            fuzz::fail("the command text overflows its buffer", &result);
        }
        if (!fuzz::starts_with(result.out, "cmd for hornio=\"" + command + "\"\n")) {
            fuzz::fail("the bytes written are not those of the trace line", &result);
        }
        if (!fuzz::starts_with(command, "period ") && !fuzz::starts_with(command, "count ") &&
            !fuzz::starts_with(command, "pattern ")) {
            fuzz::fail("the command text starts with no item", &result);
        }
    }
    // What the driver answered decides the run: a transfer of bytes succeeds
    // quietly (but for the trace line or the reply shown), anything else fails.
    if (b.operations == 1) {
        const bool served = b.driver_result > 0;
        const bool quiet = result.err.empty() && (wrote || result.out == b.reply);
        if (served != (result.status == 0) || (served && !quiet)) {
            fuzz::fail("the driver's answer was not reported as it was", &result);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size != 0) {
        check(fuzz::run_on_input(option_front_end, data, size));
    }
    return 0;
}
