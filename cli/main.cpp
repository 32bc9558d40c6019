#include "board.h"
#include "front_ends.h"

#include <cstdio>
#include <unistd.h>

#if !defined(__GLIBC__)
namespace {

// Holds everything a run prints (at most the trace line of a longest command and
// a few short lines), so that it goes out in one write when the run ends.
char output_buffer[4096];

} // namespace
#endif

int main(int argc, char** argv) {
#if !defined(__GLIBC__)
    // A run's output goes out in one write when standard output is not a
    // terminal. glibc buffers it so by itself; musl writes the first line at
    // once unless told otherwise.
    if (isatty(STDOUT_FILENO) == 0) {
        std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
#endif

    // The board decides the dialect, so it is identified before any argument
    // is looked at.
    board_detect();
    if (board_if == text_command_interface) {
        option_front_end(argc, argv);
    }
    positional_front_end(argc, argv);
}
