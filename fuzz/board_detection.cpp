// Any content of "/proc/lampstat", read whole or failing part way, or the
// file missing; the board found is checked against a model of reading the
// second line with fgets into a 1024-byte buffer and searching it.
#include "board.h"
#include "in_process_board.h"

#include <cstdint>
#include <string>

namespace {

constexpr int line_size = 1024;

// The values detection must leave alone when no board matches.
constexpr int32_t untouched_id = 77;
constexpr int32_t untouched_if = 5;

enum class got { line, end, error };

// One fgets from position *at of text, of which only the first `end` bytes
// can be read; beyond them lies the end of the file or a read error.
got model_fgets(const std::string& text, size_t end, bool error, size_t* at, std::string* line) {
    std::string read;
    while (read.size() < line_size - 1) {
        if (*at >= end) {
            if (error) {
                return got::error;
            }
            if (read.empty()) {
                return got::end;
            }
            break;
        }
        const char c = text[(*at)++];
        read += c;
        if (c == '\n') {
            break;
        }
    }
    *line = read;
    return got::line;
}

// The text board detection searches: the second line, the first when there
// is no second, nothing after a read error; up to its first NUL.
std::string model_searched(const std::string& text, bool error, size_t error_after) {
    const size_t end = error && error_after < text.size() ? error_after : text.size();
    size_t at = 0;
    std::string first;
    std::string second;
    std::string searched;
    const got one = model_fgets(text, end, error, &at, &first);
    if (one == got::line) {
        const got two = model_fgets(text, end, error, &at, &second);
        searched = two == got::line ? second : two == got::end ? first : "";
    }
    return searched.substr(0, searched.find('\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    fuzz::start_run();
    fuzz::board_state& b = fuzz::board();
    const uint8_t mode = data[0] % 4;
    b.proc_present = mode != 0;
    b.proc_error = mode == 1;
    b.proc_error_after = static_cast<size_t>(data[1]) * 8;
    b.proc_text.assign(data + 2, data + size);

    board_id = untouched_id;
    board_if = untouched_if;
    option_val_table = nullptr;
    board_detect();
    const fuzz::run_result result = fuzz::finish_run(0);

    const bool match =
        b.proc_present &&
        model_searched(b.proc_text, b.proc_error, b.proc_error_after).find("QTR-PN") !=
            std::string::npos;
    const bool found = board_if == 1 && board_id == 2 && option_val_table == qtr_pn_option_values;
    const bool kept =
        board_if == untouched_if && board_id == untouched_id && option_val_table == nullptr;
    if (match ? !found : !kept) {
        fuzz::fail(match ? "the board was not found" : "a board was found where none is", &result);
    }
    // Silent when the proc file opens; one line on standard output when it does not (its text
    // is the suite's to check).
    const bool one_line = !result.out.empty() && result.out.find('\n') == result.out.size() - 1;
    if ((b.proc_present ? !result.out.empty() : !one_line) || !result.err.empty()) {
        fuzz::fail("detection printed something unexpected", &result);
    }
    return 0;
}
