#include "end_run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void end_run(int status) {
    if (status == 0) {
        // An earlier failed write leaves the error flag set; pending output
        // fails here. Either way the run's output is incomplete.
        errno = 0;
        const bool lost = std::ferror(stdout) != 0;
        if (std::fflush(stdout) != 0 || lost) {
            if (errno != 0) {
                std::fprintf(stderr, "hornset: write error: %s\n", std::strerror(errno));
            } else {
                std::fputs("hornset: write error\n", stderr);
            }
            status = 1;
        }
    }
    std::exit(status);
}
