#include "board.h"
#include "front_ends.h"

int main(int argc, char** argv) {
    // The board decides the dialect, so it is identified before any argument
    // is looked at.
    board_detect();
    if (board_if == text_command_interface) {
        option_front_end(argc, argv);
    }
    positional_front_end(argc, argv);
}
