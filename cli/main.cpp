#include "board.h"
#include "front_ends.h"

#include <cstdio>
#include <unistd.h>

namespace {

// Holds everything a run prints (at most a 2000-byte command's trace line and
// a few short lines), so that it goes out in one write when the run ends.
char output_buffer[4096];

} // namespace

int main(int argc, char** argv) {
    // Standard output is fully buffered unless it is a terminal, with every C
    // library: musl would otherwise write the first line at once, and a failed
    // write's reason would be lost before the run ends and reports it.
    if (isatty(STDOUT_FILENO) == 0) {
        std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }

    // The board decides the dialect, so it is identified before any argument
    // is looked at.
    board_detect();
    if (board_if == text_command_interface) {
        option_front_end(argc, argv);
    }
    positional_front_end(argc, argv);
}
