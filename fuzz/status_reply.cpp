// Any status reply, shown by the status read: the bytes up to the first NUL of the read, nothing
// added, status 0, the node closed; an empty read fails and says so (its text is the suite's).
#include "buzzer.h"
#include "in_process_board.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::board board;
    board.reply.emplace(data, data + size);
    const fuzz::run_result r = fuzz::run(board, [](int, char**) { buzzer_read(); }, {});
    std::string shown = board.reply->substr(0, HORNIO_TEXT_SIZE);
    shown.resize(std::min(shown.size(), shown.find('\0')));
    const bool reported = size == 0 ? r.status == 1 && !r.out.empty() && !r.err.empty()
                                    : r.status == 0 && r.out == shown && r.err.empty();
    if (!reported || r.opens != 1 || r.closes != (size == 0 ? 0 : 1)) {
        fuzz::fail("the reply was not shown as it was", r);
    }
    return 0;
}
