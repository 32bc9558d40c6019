// Any content of "/proc/lampstat" (from the third byte), read whole or failing part way, or the
// file missing: the first byte chooses which (0 missing, 1 a read error beyond 8 times the
// second byte's value). The board found is checked against a model of the reading.
#include "board.h"
#include "in_process_board.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr size_t line_size = 1024;

// What detection searches, read as two fgets into a buffer of line_size bytes would: the second
// line, the first when the file ends before it, nothing after a read error; up to a NUL.
std::string model_searched(const fuzz::board& board) {
    const std::string& text = *board.proc;
    const size_t end = std::min(board.proc_error_after.value_or(text.size()), text.size());
    std::string line;
    size_t at = 0;
    for (int i = 0; i < 2; ++i) {
        const size_t newline = text.find('\n', at);
        const size_t stop =
            std::min(newline == std::string::npos ? SIZE_MAX : newline + 1, at + line_size - 1);
        if (stop > end && board.proc_error_after) {
            return ""; // the read error, met inside this line
        }
        if (at >= end) {
            break; // the end of the file: the line read last stays
        }
        line = text.substr(at, std::min(stop, end) - at);
        at = std::min(stop, end);
    }
    return line.substr(0, line.find('\0'));
}

// The values detection must leave alone when no board matches.
constexpr int32_t untouched_id = 77;
constexpr int32_t untouched_if = 5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    fuzz::board board;
    if (data[0] % 4 != 0) {
        board.proc.emplace(data + 2, data + size);
    }
    if (data[0] % 4 == 1) {
        board.proc_error_after = size_t{data[1]} * 8;
    }
    board_id = untouched_id;
    board_if = untouched_if;
    option_val_table = nullptr;
    const fuzz::run_result r = fuzz::run(board, [](int, char**) { board_detect(); }, {});

    const bool match = board.proc && model_searched(board).find("QTR-PN") != std::string::npos;
    const bool found = board_if == 1 && board_id == 2 && option_val_table == qtr_pn_option_values;
    const bool kept =
        board_if == untouched_if && board_id == untouched_id && option_val_table == nullptr;
    if (match ? !found : !kept) {
        fuzz::fail(match ? "the board was not found" : "a board was found where none is", r);
    }
    // Silent when the proc file opens; one line on standard output when it does not (its text
    // is the suite's to check).
    const bool one_line = !r.out.empty() && r.out.find('\n') == r.out.size() - 1;
    if ((board.proc ? !r.out.empty() : !one_line) || !r.err.empty()) {
        fuzz::fail("detection printed something unexpected", r);
    }
    return 0;
}
