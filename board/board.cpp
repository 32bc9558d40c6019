#include "board.h"

#include "hornio.h"
#include "run.h"

#include <cstdio>
#include <cstring>

const option_row qtr_pn_option_values[] = {
    {"stson", "Status green LED on", "error_LED off status_LED on", 0},
    {"stsoff", "Status green LED off", "error_LED off status_LED off", 0},
    {"stsblink", "Status green LED blink", "error_LED off status_LED blink", 0},
    {"stsfastblink", "Status green LED fast blink", "error_LED off status_LED blink", 0},
    {nullptr, nullptr, nullptr, 0},
};

const board_row board_table[] = {
    {2, text_command_interface, qtr_pn_option_values, "QTR-PN"},
    {0, 0, nullptr, nullptr},
};

int32_t board_id = 0;
int32_t board_if = 0;
const option_row* option_val_table = qtr_pn_option_values;

namespace {

constexpr int line_size = 1024;

} // namespace

void board_detect() {
    FILE* proc = std::fopen(HORNIO_LAMPSTAT_PATH, "r");
    if (proc == nullptr) {
        note_output(std::puts("fail to open /proc/lampstat") == EOF);
        return;
    }

    // The model name is on the second line. A second read that meets the end
    // of the file leaves the first line in place, so a one-line file is
    // searched whole. A read error leaves the buffer undefined: search nothing.
    char line[line_size] = "";
    for (int i = 0; i < 2; ++i) {
        if (std::fgets(line, line_size, proc) == nullptr) {
            if (std::ferror(proc) != 0) {
                line[0] = '\0';
            }
            break;
        }
    }
    std::fclose(proc);

    for (const board_row* row = board_table; row->match_name != nullptr; ++row) {
        if (std::strstr(line, row->match_name) != nullptr) {
            option_val_table = row->options;
            board_id = row->id;
            board_if = row->interface_kind;
            return;
        }
    }
}
