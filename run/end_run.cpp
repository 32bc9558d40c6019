#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void end_run(int status) {
    if (status == 0) {
        // Output still buffered fails here; output already written may have
        // failed before, and then its reason is the one to give.
        errno = 0;
        const bool flushed = std::fflush(stdout) == 0;
        int reason = output_error();
        if (reason == 0 && !flushed) {
            reason = errno;
        }
        if (!flushed || std::ferror(stdout) != 0 || reason != 0) {
            // The run fails from here: the report must not end it by SIGPIPE
            // when standard error's reader has gone.
            run_fails();
            if (reason != 0) {
                std::fprintf(stderr, "hornset: write error: %s\n", std::strerror(reason));
            } else {
                std::fputs("hornset: write error\n", stderr);
            }
            status = 1;
        }
    }
    if (status != 0) {
        run_fails();
    }
    std::exit(status);
}
