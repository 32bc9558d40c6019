// Any status reply, shown by the status read: the bytes up to the first NUL
// of the (at most 2000) read, nothing added, status 0; an empty read fails.
#include "buzzer.h"
#include "in_process_board.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

[[noreturn]] void show_status(int /*argc*/, char** /*argv*/) {
    buzzer_read();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_run();
    fuzz::board_state& b = fuzz::board();
    b.own_reply = true;
    b.reply.assign(data, data + size);
    char* no_arguments[] = {nullptr};
    const fuzz::run_result result =
        fuzz::finish_run(fuzz::run_front_end(show_status, 0, no_arguments));

    if (size == 0) {
        // The texts themselves are the suite's to check; here, that it fails and says so.
        if (result.status != 1 || result.out.empty() || result.err.empty()) {
            fuzz::fail("an empty read was not reported as a read error", &result);
        }
        return 0;
    }
    std::string shown = b.reply.substr(0, HORNIO_TEXT_SIZE);
    shown.resize(std::min(shown.size(), shown.find('\0')));
    if (result.status != 0 || result.out != shown || !result.err.empty() || b.opens != 1 ||
        b.closes != 1) {
        fuzz::fail("the reply was not shown exactly", &result);
    }
    return 0;
}
