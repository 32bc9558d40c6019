#include "buzzer.h"
#include "front_ends.h"
#include "number.h"
#include "run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The project's version, from the build (project() in CMakeLists.txt).
constexpr const char* version = HORNSET_VERSION;

// Refuses the arguments. Line-buffered or unbuffered, the refusal is written
// at once, so the run is marked failing first: a reader of standard output
// that has gone must not end it by SIGPIPE.
[[noreturn]] void refuse(const char* reason) {
    run_fails();
    std::fputs("Error: Invalid parameter.\n", stdout);
    if (reason != nullptr) {
        std::fputs(reason, stdout);
    }
    end_run(1);
}

// Prints one line of a successful run's output, noting a failed write.
void say(const char* line) {
    note_output(std::fputs(line, stdout) == EOF);
}

// Values beyond the 32-bit range come back saturated, so they meet the
// negative and over-255 tests instead of wrapping into range.
int32_t value_of(const char* text) {
    int32_t value = 0;
    to_int32(text, &value);
    return value;
}

} // namespace

void positional_front_end(int argc, char** argv) {
    if (argc == 2) {
        const char* argument = argv[1];
        if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "--VERSION") == 0) {
            note_output(std::printf("hornset version %s\n", version) < 0);
            end_run(0);
        }
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--HELP") == 0) {
            say("Usage: hornset [off time] [on time] [count]\n");
            say("--help     : help\n");
            say("--version  : version\n");
            say("off time : 1-255\n");
            say("on time  : 1-255\n");
            say("count    : 0-255 (255 = buzzer always running.)\n");
            end_run(0);
        }
    }

    int32_t word = 0;
    const bool query = argc == 1;
    if (argc == 4) {
        const int32_t off_time = value_of(argv[1]);
        const int32_t on_time = value_of(argv[2]);
        const int32_t count = value_of(argv[3]);
        if (off_time == 0 || on_time == 0) {
            refuse("Can't set to zero.\n");
        }
        if (off_time < 0 || on_time < 0 || count < 0) {
            refuse("Can't set to negative value.\n");
        }
        if (off_time > 255 || on_time > 255 || count > 255) {
            refuse("Can't set to over 255.\n");
        }
        // Off time in bits 16-23, on time in bits 8-15, count in bits 0-7.
        word = count + on_time * 256 + off_time * 65536;
    }

    if (word == 0 && !query) {
        refuse(nullptr);
    }

    buzzer_request(query ? HORNIO_GET_REQUEST : HORNIO_SET_REQUEST, &word);
    end_run(0);
}
