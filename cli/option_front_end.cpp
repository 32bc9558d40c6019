#include "buzzer.h"
#include "front_ends.h"
#include "number.h"
#include "run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char option_list[] = "\tAllowed options are:\n"
                               "\t-d    Show Buzzer Status.\n"
                               "\t-t    Buzzer Period.\n"
                               "\t-c    Repeat Count.\n"
                               "\t-p    Buzzer Pattern.\n";
static_assert(sizeof option_list - 1 == 115, "the option list is 115 bytes");

enum class form : unsigned char { full = 0, brief = 1 };

// Reports a usage error on standard error (the full form adds the option list
// on standard output) and ends the run. The device is never touched. The run
// is marked failing first, so that a reader of either stream that has gone
// does not end it by SIGPIPE.
[[noreturn]] void usage(const char* message, form shape) {
    run_fails();
    std::fprintf(stderr, "Error: hornset - %s\n", message);
    std::fputs("Usage: hornset [-options] [value]\n", stderr);
    if (shape == form::full) {
        std::fwrite(option_list, 1, sizeof option_list - 1, stdout);
    }
    end_run(1);
}

// A period or count: 0, and anything atoi would have wrapped, is refused.
int32_t nonzero_value(const char* text, const char* refusal) {
    int32_t value = 0;
    if (!to_int32(text, &value) || value == 0) {
        usage(refusal, form::brief);
    }
    return value;
}

// Appends text to a NUL-terminated buffer of HORNIO_TEXT_SIZE bytes holding
// *length bytes; false, and nothing appended, when it would not fit.
bool append(char* buffer, size_t* length, const char* text) {
    const size_t added = std::strlen(text);
    if (added >= HORNIO_TEXT_SIZE - *length) {
        return false;
    }
    std::memcpy(buffer + *length, text, added + 1);
    *length += added;
    return true;
}

// The options getopt is given; the leading '-' is explained at next_option.
constexpr char option_string[] = "-dc:p:t:";

// Whether getopt, taking the option at the start of argv[next], will print
// its own complaint: an option it does not know (':' included), or one whose
// value is neither in the rest of the word nor in a word after it. This is
// the judgement both glibc's and musl's getopt make for an option string of
// plain options and options with a required value. It calls nothing of the
// C library: a function a run has not called yet costs it a symbol lookup.
bool getopt_complains(int argc, char** argv, int next) {
    if (next >= argc) {
        return false;
    }
    const char* word = argv[next];
    if (word[0] != '-' || word[1] == '\0' || (word[1] == '-' && word[2] == '\0')) {
        return false;
    }
    for (const char* known = option_string + 1; *known != '\0'; ++known) {
        if (*known == word[1] && *known != ':') {
            return known[1] == ':' && word[2] == '\0' && next + 1 >= argc;
        }
    }
    return true;
}

// The next option from getopt, or -1 at the end of the options. Words that are
// not options are ignored wherever they stand, with every C library and
// whatever the environment: the leading '-' makes getopt hand them over in
// place, as option 1, instead of stopping at the first (musl, or glibc with
// POSIXLY_CORRECT) or moving them (glibc otherwise). A lone "-" is such a word
// too, but musl's getopt ends the options there, so it is passed over here.
// Every option either ends the run or uses up its word, so getopt is always at
// the start of a word when this is called.
int next_option(int argc, char** argv) {
    while (optind > 0 && optind < argc && argv[optind][0] == '-' && argv[optind][1] == '\0') {
        ++optind;
    }
    // getopt prints its complaint about an invalid option itself, before the
    // caller learns of it. A run about to get one is marked failing first, so
    // that a reader of standard error that has gone does not end it there by
    // SIGPIPE. It is judged here, without a system call, so that a run that
    // succeeds is left as it was. An optind of 0 makes getopt start afresh,
    // at the first argument.
    if (getopt_complains(argc, argv, optind > 0 ? optind : 1)) {
        run_fails();
    }
    return getopt(argc, argv, option_string);
}

} // namespace

void option_front_end(int argc, char** argv) {
    int32_t period = 0;
    int32_t count = 0;
    char pattern[HORNIO_TEXT_SIZE] = "";

    if (argc <= 1) {
        usage("too few arguments", form::full);
    }

    // Each option acts when it is taken: a later one overrides an earlier
    // one, and -d ends the run before the options after it are seen.
    for (int option = 0; (option = next_option(argc, argv)) != -1;) {
        switch (option) {
        case 1: // a word that is not an option
            break;
        case 'd':
            buzzer_read();
        case 't':
            period = nonzero_value(optarg, "invalid period value");
            break;
        case 'c':
            count = nonzero_value(optarg, "invalid count value");
            break;
        case 'p': {
            // Copied whole with its terminator, or refused: never cut short.
            const size_t length = std::strlen(optarg);
            if (length >= sizeof pattern) {
                usage("pattern too long", form::brief);
            }
            std::memcpy(pattern, optarg, length + 1);
            break;
        }
        default:
            usage("invalid option", form::full);
        }
    }

    if (pattern[0] == '\0' && period == 0) {
        usage("no pattern or period option", form::brief);
    }
    if (pattern[0] == '\0' && count != 0) {
        usage("no pattern option", form::brief);
    }

    // Items in fixed order, single spaces between them.
    char command[HORNIO_TEXT_SIZE] = "";
    size_t length = 0;
    char item[100];
    bool fits = true;
    if (period != 0) {
        std::snprintf(item, sizeof item, "period %d", period);
        fits = fits && append(command, &length, item);
    }
    if (count != 0) {
        std::snprintf(item, sizeof item, "count %d", count);
        if (period != 0) {
            fits = fits && append(command, &length, " ");
        }
        fits = fits && append(command, &length, item);
    }
    if (pattern[0] != '\0') {
        if (period != 0 || count != 0) {
            fits = fits && append(command, &length, " ");
        }
        fits = fits && append(command, &length, "pattern ") && append(command, &length, pattern);
    }
    if (!fits) {
        usage("command too long", form::brief);
    }

    buzzer_write(command);
    end_run(0);
}
