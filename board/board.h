// The board the tool runs on, as found in the LED driver's proc file.
#pragma once

#include <cstdint>

// One LED status option of a board: its keyword, a description and the command
// the LED driver takes for it. A table of them ends with an all-null row.
struct option_row {
    const char* keyword;
    const char* description;
    const char* led_command;
    int32_t reserved;
};

// One known board: its id, its buzzer interface kind (1 = text commands, any
// other value = requests), its LED options and the model name that identifies it.
// The table ends with a row whose match name is null.
struct board_row {
    int32_t id;
    int32_t interface_kind;
    const option_row* options;
    const char* match_name;
};

constexpr int32_t text_command_interface = 1;

extern const option_row qtr_pn_option_values[];
extern const board_row board_table[];

// The current board: written only by board_detect, read afterwards.
extern int32_t board_id;
extern int32_t board_if;
extern const option_row* option_val_table;

// Reads the second line of "/proc/lampstat" and takes the first board of
// board_table whose model name occurs in it. Leaves the current board as it
// was when the file cannot be opened (saying so on standard output) or when
// no board matches. Never ends the process.
void board_detect();
