// hornemu: runs a program on the emulated board (libhornemu.so, preloaded) and then tells on
// standard error, in plain words, what reached "/proc/lampstat" and the buzzer driver.

#include "elfcheck.h"
#include "errnames.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int usage_status = 125;
constexpr int cannot_run_status = 126;
constexpr int not_found_status = 127;

constexpr char usage_text[] =
    "Usage: hornemu [OPTIONS] -- PROGRAM [ARGS...]\n"
    "Runs PROGRAM on an emulated board, then tells on standard error what reached\n"
    "/proc/lampstat and the buzzer driver behind /dev/hornio.\n"
    "\n"
    "  --board qtr-pn    /proc/lampstat names a QTR-PN board: text commands (default)\n"
    "  --board request   /proc/lampstat names an RQ-200 board: the request interface\n"
    "  --board none      there is no /proc/lampstat\n"
    "  --lampstat FILE   /proc/lampstat holds FILE's content\n"
    "  --no-node         there is no /dev/hornio\n"
    "  --node TYPE       /dev/hornio is the driver's device (TYPE device, the\n"
    "                    default), a regular file or a FIFO (regular, fifo)\n"
    "  --fail OP:ERRNO   OP (lampstat, open, write, read, ioctl) fails with ERRNO,\n"
    "                    a name such as EIO or a number\n"
    "  --return OP:N     OP (write, read, ioctl) returns N without the driver acting\n"
    "  --reply FILE      the driver's status reply is FILE's content\n"
    "  --dir DIR         keep the scenario in DIR (created if missing), so that the\n"
    "                    driver remembers its last command and word across runs\n"
    "  --close FDS       start PROGRAM with these standard descriptors closed, a\n"
    "                    comma-separated list of 0, 1 and 2\n"
    "  --joined          PROGRAM's standard error is its standard output (2>&1)\n"
    "  --help            show this help and exit\n"
    "\n"
    "Exit status: PROGRAM's own, 128+N when a signal N killed it; 125 for an error of\n"
    "hornemu itself, 126 when PROGRAM cannot be run (a statically linked program\n"
    "cannot be reached by the emulated board), 127 when it is not found.\n";

constexpr char qtr_pn_lampstat[] = "leds: status=off error=off\nmodel: QTR-PN\n";
constexpr char request_lampstat[] = "leds: status=off error=off\nmodel: RQ-200\n";

enum class lampstat_source { unchanged, text, file, none };

struct options {
    lampstat_source lampstat = lampstat_source::unchanged;
    const char* lampstat_value = nullptr; // the text or the file
    const char* reply_file = nullptr;
    const char* dir = nullptr;
    bool board_conf_given = false;
    char board_conf[4096] = {};
    size_t board_conf_length = 0;
    char** program = nullptr; // PROGRAM and its arguments, null-terminated
    bool closed[3] = {};      // standard descriptors PROGRAM starts without
    bool joined = false;      // PROGRAM's standard error is a duplicate of its standard output
};

[[noreturn]] void usage_error(const char* message, const char* detail = "") {
    fprintf(stderr, "hornemu: %s%s\nUsage: hornemu [OPTIONS] -- PROGRAM [ARGS...]\n", message,
            detail);
    exit(usage_status);
}

[[noreturn]] void setup_error(const char* what, const char* path) {
    fprintf(stderr, "hornemu: %s%s: %s\n", what, path, strerror(errno));
    exit(usage_status);
}

// snprintf into a path buffer; a path that does not fit is an error of its own.
__attribute__((format(printf, 3, 4))) void format_path(char* out, size_t size, const char* format,
                                                       ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(out, size, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        fprintf(stderr, "hornemu: path too long: %.60s...\n", out);
        exit(usage_status);
    }
}

// --close 0,1,2: which standard descriptors to close.
void parse_closed(options& chosen, const char* value) {
    for (const char* at = value;; ++at) {
        if (*at < '0' || *at > '2' || (at[1] != ',' && at[1] != '\0')) {
            usage_error("--close wants a comma-separated list of 0, 1 and 2: ", value);
        }
        chosen.closed[*at - '0'] = true;
        if (*++at == '\0') {
            break;
        }
    }
}

void add_directive(options& chosen, const char* first, const char* second, const char* third) {
    const int length = snprintf(chosen.board_conf + chosen.board_conf_length,
                                sizeof chosen.board_conf - chosen.board_conf_length, "%s%s%s\n",
                                first, second, third);
    if (length < 0 ||
        static_cast<size_t>(length) >= sizeof chosen.board_conf - chosen.board_conf_length) {
        usage_error("too many faults");
    }
    chosen.board_conf_length += static_cast<size_t>(length);
    chosen.board_conf_given = true;
}

bool in_list(const char* word, size_t length, const char* const* list) {
    for (; *list != nullptr; ++list) {
        if (strlen(*list) == length && strncmp(*list, word, length) == 0) {
            return true;
        }
    }
    return false;
}

// --fail OP:ERRNO and --return OP:N become board.conf directives.
void add_fault(options& chosen, const char* option, const char* value) {
    static const char* const fail_ops[] = {"lampstat", "open", "write", "read", "ioctl", nullptr};
    static const char* const return_ops[] = {"write", "read", "ioctl", nullptr};
    const bool fail = strcmp(option, "--fail") == 0;
    const char* colon = strchr(value, ':');
    const size_t op_length = colon != nullptr ? static_cast<size_t>(colon - value) : 0;
    if (colon == nullptr || !in_list(value, op_length, fail ? fail_ops : return_ops)) {
        usage_error(fail ? "--fail wants OP:ERRNO with OP one of lampstat, open, write, read, "
                           "ioctl: "
                         : "--return wants OP:N with OP one of write, read, ioctl: ",
                    value);
    }
    char op[16];
    snprintf(op, sizeof op, "%.*s", static_cast<int>(op_length), value);
    const char* argument = colon + 1;
    if (fail) {
        const int error = hornemu::errno_parse(argument, strlen(argument));
        if (error == 0) {
            usage_error("unknown errno: ", argument);
        }
        char number[16];
        snprintf(number, sizeof number, "%d", error);
        const char* name = hornemu::errno_name(error);
        add_directive(chosen, op, " fail ", name != nullptr ? name : number);
        return;
    }
    char* end = nullptr;
    errno = 0;
    const long result = strtol(argument, &end, 10);
    const bool negative_allowed = strcmp(op, "ioctl") == 0;
    if (*argument == '\0' || *end != '\0' || errno != 0 || result > INT_MAX ||
        result < (negative_allowed ? INT_MIN : 0)) {
        usage_error("not a valid return value: ", argument);
    }
    char number[24];
    snprintf(number, sizeof number, "%ld", result);
    add_directive(chosen, op, " return ", number);
}

options parse_options(int argc, char** argv) {
    options chosen;
    int at = 1;
    for (; at < argc; ++at) {
        const char* word = argv[at];
        if (strcmp(word, "--") == 0) {
            ++at;
            break;
        }
        if (word[0] != '-') {
            break;
        }
        if (strcmp(word, "--help") == 0) {
            fputs(usage_text, stdout);
            exit(0);
        }
        if (strcmp(word, "--no-node") == 0) {
            add_directive(chosen, "node absent", "", "");
            continue;
        }
        if (strcmp(word, "--joined") == 0) {
            chosen.joined = true;
            continue;
        }
        // The other options take a value, as the next word or after '='.
        static const char* const valued[] = {"--board",  "--lampstat", "--fail",
                                             "--return", "--reply",    "--dir",
                                             "--node",   "--close",    nullptr};
        const char* equals = strchr(word, '=');
        const size_t name_length =
            equals != nullptr ? static_cast<size_t>(equals - word) : strlen(word);
        if (!in_list(word, name_length, valued)) {
            usage_error("unknown option: ", word);
        }
        const char* value = equals != nullptr ? equals + 1 : nullptr;
        if (value == nullptr && ++at == argc) {
            usage_error("a value is missing after ", word);
        }
        value = value != nullptr ? value : argv[at];
        char name[16];
        snprintf(name, sizeof name, "%.*s", static_cast<int>(name_length), word);
        if (strcmp(name, "--board") == 0) {
            if (strcmp(value, "qtr-pn") == 0 || strcmp(value, "request") == 0) {
                chosen.lampstat = lampstat_source::text;
                chosen.lampstat_value =
                    strcmp(value, "qtr-pn") == 0 ? qtr_pn_lampstat : request_lampstat;
            } else if (strcmp(value, "none") == 0) {
                chosen.lampstat = lampstat_source::none;
            } else {
                usage_error("--board wants qtr-pn, request or none: ", value);
            }
        } else if (strcmp(name, "--lampstat") == 0) {
            chosen.lampstat = lampstat_source::file;
            chosen.lampstat_value = value;
        } else if (strcmp(name, "--reply") == 0) {
            chosen.reply_file = value;
        } else if (strcmp(name, "--dir") == 0) {
            chosen.dir = value;
        } else if (strcmp(name, "--close") == 0) {
            parse_closed(chosen, value);
        } else if (strcmp(name, "--node") == 0) {
            if (strcmp(value, "device") != 0 && strcmp(value, "regular") != 0 &&
                strcmp(value, "fifo") != 0) {
                usage_error("--node wants device, regular or fifo: ", value);
            }
            add_directive(chosen, "node ", value, "");
        } else {
            add_fault(chosen, name, value);
        }
    }
    if (at == argc) {
        usage_error("no program to run");
    }
    chosen.program = argv + at;
    return chosen;
}

// PROGRAM as given when it holds a '/', else the first executable file of that name on PATH.
void find_program(const char* name, char (&path)[PATH_MAX]) {
    if (strchr(name, '/') != nullptr) {
        if (access(name, F_OK) != 0) {
            fprintf(stderr, "hornemu: %s: %s\n", name, strerror(errno));
            exit(errno == ENOENT ? not_found_status : cannot_run_status);
        }
        format_path(path, sizeof path, "%s", name);
        return;
    }
    const char* search = getenv("PATH");
    search = search != nullptr ? search : "/usr/local/bin:/usr/bin:/bin";
    bool denied = false;
    for (const char* start = search;; ++start) {
        const size_t span = strcspn(start, ":");
        const char* end = start + span;
        const int dir_length = static_cast<int>(span);
        format_path(path, sizeof path, "%.*s%s%s", dir_length, start, dir_length > 0 ? "/" : "",
                    name);
        struct stat info;
        if (stat(path, &info) == 0 && S_ISREG(info.st_mode)) {
            if (access(path, X_OK) == 0) {
                return;
            }
            denied = true;
        }
        if (*end == '\0') {
            break;
        }
        start = end;
    }
    if (denied) {
        fprintf(stderr, "hornemu: %s: %s\n", name, strerror(EACCES));
        exit(cannot_run_status);
    }
    fprintf(stderr, "hornemu: %s: command not found\n", name);
    exit(not_found_status);
}

// Refuses what the interposer cannot reach; name is PROGRAM as given, path where it was found.
void check_program(const char* name, const char* path) {
    switch (hornemu::examine_program(path)) {
    case hornemu::program_kind::static_elf:
        fprintf(stderr, "hornemu: %s is statically linked; the emulated board cannot reach it\n",
                name);
        exit(cannot_run_status);
    case hornemu::program_kind::unreadable:
        fprintf(stderr, "hornemu: %s: cannot read it to check how it is linked: %s\n", name,
                strerror(errno));
        exit(cannot_run_status);
    case hornemu::program_kind::dynamic:
    case hornemu::program_kind::other:
        break;
    }
}

// libhornemu.so beside this program.
void find_library(char (&path)[PATH_MAX]) {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length < 0) {
        setup_error("cannot find myself: ", "/proc/self/exe");
    }
    self[length] = '\0';
    char* slash = strrchr(self, '/');
    *(slash != nullptr ? slash : self) = '\0';
    format_path(path, sizeof path, "%s/libhornemu.so", self);
    if (access(path, R_OK) != 0) {
        setup_error("", path);
    }
    if (strpbrk(path, " :") != nullptr) {
        fprintf(stderr, "hornemu: %s: LD_PRELOAD cannot name a path with ' ' or ':'\n", path);
        exit(usage_status);
    }
}

// mkdir -p; true when the last directory was created here.
bool make_directories(char* path) {
    for (char* slash = strchr(path + 1, '/'); slash != nullptr; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        if (mkdir(path, 0755) != 0 && errno != EEXIST) {
            setup_error("cannot create ", path);
        }
        *slash = '/';
    }
    if (mkdir(path, 0755) == 0) {
        return true;
    }
    struct stat info;
    if (errno != EEXIST || stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) {
        setup_error("cannot create ", path);
    }
    return false;
}

void write_file(const char* dir, const char* name, const char* bytes, size_t length) {
    char path[PATH_MAX];
    format_path(path, sizeof path, "%s/%s", dir, name);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setup_error("cannot create ", path);
    }
    for (size_t done = 0; done < length;) {
        const ssize_t wrote = write(fd, bytes + done, length - done);
        if (wrote < 0) {
            setup_error("cannot write ", path);
        }
        done += static_cast<size_t>(wrote);
    }
    if (close(fd) != 0) {
        setup_error("cannot write ", path);
    }
}

void copy_file(const char* from, const char* dir, const char* name) {
    static char bytes[1 << 20];
    FILE* source = fopen(from, "rb");
    if (source == nullptr) {
        setup_error("", from);
    }
    const size_t length = fread(bytes, 1, sizeof bytes, source);
    if (ferror(source) || !feof(source)) {
        errno = ferror(source) ? errno : EFBIG;
        setup_error("cannot read ", from);
    }
    fclose(source);
    write_file(dir, name, bytes, length);
}

void remove_scenario(const char* dir) {
    DIR* listing = opendir(dir);
    if (listing != nullptr) {
        for (const dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
                unlinkat(dirfd(listing), entry->d_name, 0);
            }
        }
        closedir(listing);
    }
    rmdir(dir);
}

// Sets the scenario directory up in dir (absolute); true when it is a temporary one.
bool prepare_scenario(const options& chosen, char (&dir)[PATH_MAX]) {
    bool fresh = true;
    if (chosen.dir != nullptr) {
        char given[PATH_MAX];
        format_path(given, sizeof given, "%s", chosen.dir);
        fresh = make_directories(given);
        if (realpath(given, dir) == nullptr) {
            setup_error("", given);
        }
    } else {
        const char* base = getenv("TMPDIR");
        base = base != nullptr && base[0] != '\0' ? base : "/tmp";
        char name[PATH_MAX];
        format_path(name, sizeof name, "%s/hornemu.XXXXXX", base);
        if (mkdtemp(name) == nullptr || realpath(name, dir) == nullptr) {
            setup_error("cannot create a scenario directory in ", base);
        }
    }
    // A scenario directory that already existed keeps its files unless an option says otherwise.
    lampstat_source lampstat = chosen.lampstat;
    const char* lampstat_value = chosen.lampstat_value;
    if (lampstat == lampstat_source::unchanged && fresh) {
        lampstat = lampstat_source::text;
        lampstat_value = qtr_pn_lampstat;
    }
    if (lampstat == lampstat_source::text) {
        write_file(dir, "lampstat", lampstat_value, strlen(lampstat_value));
    } else if (lampstat == lampstat_source::file) {
        copy_file(lampstat_value, dir, "lampstat");
    } else if (lampstat == lampstat_source::none) {
        char path[PATH_MAX];
        format_path(path, sizeof path, "%s/lampstat", dir);
        if (unlink(path) != 0 && errno != ENOENT) {
            setup_error("cannot remove ", path);
        }
    }
    if (chosen.board_conf_given) {
        write_file(dir, "board.conf", chosen.board_conf, chosen.board_conf_length);
    }
    if (chosen.reply_file != nullptr) {
        copy_file(chosen.reply_file, dir, "reply");
    }
    return chosen.dir == nullptr;
}

struct run_result {
    bool started;
    int status; // started: the wait status; else hornemu's own exit status
};

// Runs the program with the emulated board preloaded.
run_result run_program(const options& chosen, const char* path, const char* dir,
                       const char* library) {
    char preload[2 * PATH_MAX];
    const char* earlier = getenv("LD_PRELOAD");
    format_path(preload, sizeof preload, "%s%s%s", library,
                earlier != nullptr && earlier[0] != '\0' ? ":" : "",
                earlier != nullptr ? earlier : "");
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        setup_error("cannot create a pipe", "");
    }
    // Like system(): a ^C or ^\ from the terminal is the program's to handle.
    struct sigaction ignore = {};
    struct sigaction old_interrupt = {};
    struct sigaction old_quit = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &old_interrupt);
    sigaction(SIGQUIT, &ignore, &old_quit);
    const pid_t child = fork();
    if (child < 0) {
        setup_error("cannot start ", path);
    }
    if (child == 0) {
        sigaction(SIGINT, &old_interrupt, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
        setenv("HORNEMU_DIR", dir, 1);
        setenv("LD_PRELOAD", preload, 1);
        if (chosen.joined) {
            dup2(1, 2);
        }
        for (int fd = 0; fd < 3; ++fd) {
            if (chosen.closed[fd]) {
                close(fd);
            }
        }
        execv(path, chosen.program);
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(cannot_run_status);
    }
    close(report[1]);
    int exec_error = 0;
    ssize_t got = 0;
    do {
        got = read(report[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    sigaction(SIGINT, &old_interrupt, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    if (got == static_cast<ssize_t>(sizeof exec_error)) {
        fprintf(stderr, "hornemu: %s: %s\n", path, strerror(exec_error));
        return run_result{false, exec_error == ENOENT ? not_found_status : cannot_run_status};
    }
    return run_result{true, status};
}

// The account of the log.

const char* error_text(const char* name) {
    const int value = hornemu::errno_parse(name, strlen(name));
    return value != 0 ? strerror(value) : "unknown error";
}

// Prints hex-encoded bytes as a quoted string, non-printable bytes as \xNN.
void print_quoted(const char* hex) {
    fputc('"', stderr);
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], '\0'};
        const int byte = static_cast<int>(strtol(pair, nullptr, 16));
        if (byte == '"' || byte == '\\') {
            fprintf(stderr, "\\%c", byte);
        } else if (byte >= 0x20 && byte < 0x7f) {
            fputc(byte, stderr);
        } else {
            fprintf(stderr, "\\x%02x", byte);
        }
    }
    fputc('"', stderr);
}

// A log line split at its spaces; words[i] is empty when absent.
struct log_words {
    char* words[8];
    size_t count;
    const char* word(size_t i) const { return i < count ? words[i] : ""; }
    // The value of word i when it is "KEY=VALUE", else "".
    const char* value(size_t i, const char* key) const {
        const size_t length = strlen(key);
        const char* text = word(i);
        return strncmp(text, key, length) == 0 && text[length] == '=' ? text + length + 1 : "";
    }
};

log_words split(char* line) {
    log_words split_line = {};
    for (char* at = strtok(line, " "); at != nullptr && split_line.count < 8;
         at = strtok(nullptr, " ")) {
        split_line.words[split_line.count++] = at;
    }
    return split_line;
}

// Finds "->" and returns the index of the result after it (count when absent).
size_t result_index(const log_words& line) {
    for (size_t i = 0; i < line.count; ++i) {
        if (strcmp(line.words[i], "->") == 0) {
            return i + 1;
        }
    }
    return line.count;
}

// The error logged at word at: "EIO (Input/output error)", or an errno without a
// name in its "errno N" form, number kept.
void print_error(const log_words& line, size_t at) {
    const char* name = line.word(at);
    if (strcmp(name, "errno") == 0) {
        fprintf(stderr, "FAILED: errno %s\n", line.word(at + 1));
    } else {
        fprintf(stderr, "FAILED: %s (%s)\n", name, error_text(name));
    }
}

// The failure after "-1".
void print_failure(const log_words& line, size_t at) {
    print_error(line, at + 1);
}

// " as descriptor N (standard ...)" for a log line's "fd=N", which names only 0, 1 and 2.
void print_descriptor(const char* preposition, const char* value) {
    static const char* const streams[] = {"standard input", "standard output", "standard error"};
    if (value[0] >= '0' && value[0] <= '2' && value[1] == '\0') {
        fprintf(stderr, " %s descriptor %s (%s)", preposition, value, streams[value[0] - '0']);
    }
}

// Tells one log line in words; returns true when it was an operation that reached the driver.
bool tell(char* text) {
    char copy[256];
    snprintf(copy, sizeof copy, "%s", text);
    const log_words line = split(text);
    const char* op = line.word(0);
    const char* path = line.word(1);
    const size_t at = result_index(line);
    const char* result = line.word(at);
    const bool failed = strcmp(result, "-1") == 0;
    fprintf(stderr, "hornemu: %s: ", path);
    if (strcmp(op, "open") == 0) {
        const char* how = line.word(2);
        const char* value = strchr(how, '=');
        if (strcmp(result, "ok") == 0) {
            fprintf(stderr, "opened (%s%s)", strncmp(how, "mode=", 5) == 0 ? "mode " : "",
                    value != nullptr ? value + 1 : how);
            print_descriptor("as", line.value(at + 1, "fd"));
            fputc('\n', stderr);
        } else {
            fputs("open ", stderr);
            print_error(line, at);
        }
        return false;
    }
    if (strcmp(op, "close") == 0) {
        fprintf(stderr, "closed");
        print_descriptor("on", line.value(2, "fd"));
        if (failed) {
            fputs(", ", stderr);
            print_failure(line, at);
        } else {
            fputc('\n', stderr);
        }
        return false;
    }
    if (strcmp(op, "dup") == 0) {
        fprintf(stderr, "duplicated");
        print_descriptor("from", line.value(2, "fd"));
        if (strcmp(result, "ok") == 0) {
            print_descriptor("onto", line.value(at + 1, "fd"));
            fputc('\n', stderr);
        } else {
            fputs(", ", stderr);
            print_error(line, at);
        }
        return false;
    }
    if (strcmp(op, "write") == 0) {
        const char* count = line.value(2, "count");
        const char* data = line.value(3, "data");
        fprintf(stderr, "received command ");
        print_quoted(data);
        fprintf(stderr, " (%s bytes), ", count);
        if (failed) {
            fprintf(stderr, "write ");
            print_failure(line, at);
        } else if (strcmp(result, count) == 0) {
            fprintf(stderr, "accepted\n");
        } else {
            fprintf(stderr, "but the write returned %s\n", result);
        }
        return true;
    }
    if (strcmp(op, "read") == 0) {
        fprintf(stderr, "status read (up to %s bytes), ", line.value(2, "count"));
        if (failed) {
            print_failure(line, at);
        } else if (strcmp(result, "0") == 0) {
            fprintf(stderr, "returned 0 bytes\n");
        } else {
            fprintf(stderr, "replied %s bytes: ", result);
            print_quoted(line.value(at + 1, "data"));
            fputc('\n', stderr);
        }
        return true;
    }
    if (strcmp(op, "ioctl") == 0) {
        const char* number = line.value(2, "request");
        const unsigned long request = strtoul(number, nullptr, 16);
        // Told apart by type 'k' and number, which hold on every architecture.
        const bool ours = (request >> 8 & 0xff) == 'k';
        const bool set = ours && (request & 0xff) == 1;
        const bool get = ours && (request & 0xff) == 2;
        const char* word = line.value(3, "word");
        if (set) {
            const unsigned long value = strtoul(word, nullptr, 16);
            fprintf(stderr, "set request %s, word %s (off time %lu, on time %lu, count %lu", number,
                    word, value >> 16 & 0xff, value >> 8 & 0xff, value & 0xff);
            fprintf(stderr, value >> 24 != 0 ? ", top byte 0x%02lx)" : ")", value >> 24);
        } else {
            fprintf(stderr, "%s request %s", get ? "get" : "unknown", number);
        }
        if (failed) {
            fprintf(stderr, ", ");
            print_failure(line, at);
        } else if (strcmp(result, "0") != 0) {
            fprintf(stderr, ", returned %s\n", result);
        } else if (get && at + 1 < line.count) {
            fprintf(stderr, ", answered word %s\n", line.value(at + 1, "word"));
        } else {
            fprintf(stderr, get ? ", returned 0 without filling the word\n" : "\n");
        }
        return true;
    }
    fprintf(stderr, "log line not understood: %s\n", copy);
    return false;
}

// Tells the log from offset on: what this run did.
void tell_log(const char* dir, off_t offset) {
    char path[PATH_MAX];
    format_path(path, sizeof path, "%s/log", dir);
    bool reached = false;
    bool any = false;
    FILE* log = fopen(path, "r");
    if (log != nullptr && fseeko(log, offset, SEEK_SET) == 0) {
        char* line = nullptr;
        size_t size = 0;
        ssize_t length = 0;
        while ((length = getline(&line, &size, log)) > 0) {
            line[length - 1] = line[length - 1] == '\n' ? '\0' : line[length - 1];
            reached = tell(line) || reached;
            any = true;
        }
        free(line);
    }
    if (log != nullptr) {
        fclose(log);
    }
    if (!any) {
        fputs("hornemu: neither /proc/lampstat nor /dev/hornio was touched\n", stderr);
    }
    if (!reached) {
        fputs("hornemu: /dev/hornio: nothing reached the driver\n", stderr);
    }
}

// The size of a regular file of the scenario, 0 when there is none.
off_t file_size(const char* dir, const char* name) {
    char path[PATH_MAX];
    format_path(path, sizeof path, "%s/%s", dir, name);
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
}

// Tells what the scenario's "node" file gained from offset on. Behind the emulated driver it
// takes only what escaped the interposer; a regular file in the node's place takes every
// write.
void tell_node_file(const char* dir, off_t offset) {
    const off_t size = file_size(dir, "node");
    if (size <= offset) {
        return;
    }
    char path[PATH_MAX];
    format_path(path, sizeof path, "%s/node", dir);
    FILE* node = fopen(path, "rb");
    if (node == nullptr || fseeko(node, offset, SEEK_SET) != 0) {
        setup_error("cannot read ", path);
    }
    static char bytes[4096];
    const size_t length = fread(bytes, 1, sizeof bytes, node);
    fclose(node);
    static char hex[2 * sizeof bytes + 1];
    for (size_t i = 0; i < length; ++i) {
        snprintf(hex + 2 * i, 3, "%02x", static_cast<unsigned char>(bytes[i]));
    }
    hex[2 * length] = '\0';
    const long long landed = size - offset; // off_t is long or long long
    fprintf(stderr, "hornemu: /dev/hornio: %lld bytes landed in the node's file: ", landed);
    print_quoted(hex);
    fputs(size - offset > static_cast<off_t>(length) ? "...\n" : "\n", stderr);
}

} // namespace

int main(int argc, char** argv) {
    const options chosen = parse_options(argc, argv);
    char program[PATH_MAX];
    find_program(chosen.program[0], program);
    check_program(chosen.program[0], program);
    char library[PATH_MAX];
    find_library(library);
    char dir[PATH_MAX];
    const bool temporary = prepare_scenario(chosen, dir);
    const off_t offset = file_size(dir, "log");
    const off_t node_offset = file_size(dir, "node");

    const run_result ran = run_program(chosen, program, dir, library);
    if (!ran.started) {
        if (temporary) {
            remove_scenario(dir);
        }
        return ran.status;
    }
    const int status = ran.status;
    tell_log(dir, offset);
    tell_node_file(dir, node_offset);
    const char* name = strrchr(chosen.program[0], '/');
    name = name != nullptr ? name + 1 : chosen.program[0];
    int exit_status = 0;
    if (WIFSIGNALED(status)) {
        fprintf(stderr, "hornemu: %s was killed by signal %d (%s)\n", name, WTERMSIG(status),
                strsignal(WTERMSIG(status)));
        exit_status = 128 + WTERMSIG(status);
    } else {
        exit_status = WEXITSTATUS(status);
        fprintf(stderr, "hornemu: %s exited with status %d\n", name, exit_status);
    }
    if (temporary) {
        remove_scenario(dir);
    }
    return exit_status;
}
