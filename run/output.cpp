// Kept apart from end_run so that a replacement end_run (the fuzz targets')
// can be linked without this unit's definitions clashing with it.
#include "run.h"

#include <cerrno>
#include <csignal>

namespace {

int first_error = 0;
bool failing = false;

} // namespace

void note_output(bool failed) {
    if (failed && first_error == 0) {
        first_error = errno;
    }
}

int output_error() {
    return first_error;
}

void run_fails() {
    if (failing) {
        return;
    }
    failing = true;
    const int error = errno;
    std::signal(SIGPIPE, SIG_IGN);
    errno = error;
}
