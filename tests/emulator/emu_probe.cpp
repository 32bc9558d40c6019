// A program for the emulator's tests to run on the emulated board: performs the operations
// named on its command line, one after another, and prints what each returned.
//
//   open|open64|openat|openat64|open_2|open64_2 PATH FLAGS   FLAGS: O_RDWR|O_CREAT|0x40000 ...
//   fopen|fopen64 PATH MODE, fgets, fclose
//   write TEXT (\xNN escapes), read N, readchk N, set HEXWORD, get, ioctl HEXREQUEST, close
//   dupfd N (fcntl F_DUPFD from N, shown as "fd"), dup2 N, rawwrite TEXT (the system call, past the
//   C library), fstat (adds the file type: chr, reg, fifo or other) exit N, signal N
// The duplicating operations make the copy the descriptor the next operations use.
//
// Each operation prints "OP -> RESULT", RESULT being the value ("fd" for a descriptor) or
// "-1 ENAME"; reads add the bytes they returned, get the word. Before each operation errno is
// set to EDOM; a successful one that changed it adds " (errno changed)".
#include <errno.h>
#include <fcntl.h>
#include <linux/ioctl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int __open_2(const char* path, int flags);
extern "C" int __open64_2(const char* path, int flags);
extern "C" ssize_t __read_chk(int fd, void* buffer, size_t count, size_t buffer_size);

namespace {

struct flag_name {
    const char* name;
    int bits;
};

constexpr flag_name flag_names[] = {
    {"O_RDONLY", O_RDONLY},     {"O_WRONLY", O_WRONLY},       {"O_RDWR", O_RDWR},
    {"O_ACCMODE", O_ACCMODE},   {"O_CREAT", O_CREAT},         {"O_EXCL", O_EXCL},
    {"O_NOCTTY", O_NOCTTY},     {"O_TRUNC", O_TRUNC},         {"O_APPEND", O_APPEND},
    {"O_NONBLOCK", O_NONBLOCK}, {"O_DSYNC", O_DSYNC},         {"O_SYNC", O_SYNC},
    {"O_CLOEXEC", O_CLOEXEC},   {"O_DIRECTORY", O_DIRECTORY}, {"O_NOFOLLOW", O_NOFOLLOW},
    {"O_NOATIME", O_NOATIME},
};

int parse_flags(const char* text) {
    int flags = 0;
    char copy[256];
    snprintf(copy, sizeof copy, "%s", text);
    for (char* word = strtok(copy, "|"); word != nullptr; word = strtok(nullptr, "|")) {
        bool known = false;
        for (const flag_name& flag : flag_names) {
            if (strcmp(word, flag.name) == 0) {
                flags |= flag.bits;
                known = true;
            }
        }
        if (!known) {
            fprintf(stderr, "emu_probe: unknown flag %s\n", word);
            exit(99);
        }
    }
    return flags;
}

// C-style \xNN escapes to bytes; returns the length.
size_t unescape(const char* text, char* out) {
    size_t length = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (at[0] == '\\' && at[1] == 'x' && at[2] != '\0' && at[3] != '\0') {
            const char pair[3] = {at[2], at[3], '\0'};
            out[length++] = static_cast<char>(strtol(pair, nullptr, 16));
            at += 3;
        } else {
            out[length++] = *at;
        }
    }
    return length;
}

void print_bytes(const char* bytes, size_t length) {
    putchar('"');
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            putchar(byte);
        } else {
            printf("\\x%02x", byte);
        }
    }
    putchar('"');
}

void print_result(const char* op, long result, int error) {
    if (result < 0) {
        const char* name = strerrorname_np(error);
        if (name != nullptr) {
            printf("%s -> %ld %s", op, result, name);
        } else {
            printf("%s -> %ld errno %d", op, result, error);
        }
    } else if (strncmp(op, "open", 4) == 0 || strcmp(op, "dupfd") == 0) {
        printf("%s -> fd%s", op, error != EDOM ? " (errno changed)" : "");
    } else {
        printf("%s -> %ld%s", op, result, error != EDOM ? " (errno changed)" : "");
    }
}

} // namespace

int main(int argc, char** argv) {
    int fd = -1;
    FILE* stream = nullptr;
    static char buffer[8192];
    for (int at = 1; at < argc; ++at) {
        const char* op = argv[at];
        const char* first = at + 1 < argc ? argv[at + 1] : "";
        const char* second = at + 2 < argc ? argv[at + 2] : "";
        long result = 0;
        size_t count = 0;
        uint32_t word = 0;
        const char* type = "";
        errno = EDOM;
        if (strncmp(op, "open", 4) == 0) {
            const int flags = parse_flags(second);
            const int mode = 0600;
            result = strcmp(op, "open") == 0       ? open(first, flags, mode)
                     : strcmp(op, "open64") == 0   ? open64(first, flags, mode)
                     : strcmp(op, "openat") == 0   ? openat(AT_FDCWD, first, flags, mode)
                     : strcmp(op, "openat64") == 0 ? openat64(AT_FDCWD, first, flags, mode)
                     : strcmp(op, "open_2") == 0   ? __open_2(first, flags)
                                                   : __open64_2(first, flags);
            fd = result >= 0 ? static_cast<int>(result) : fd;
            at += 2;
        } else if (strncmp(op, "fopen", 5) == 0) {
            stream = strcmp(op, "fopen") == 0 ? fopen(first, second) : fopen64(first, second);
            result = stream != nullptr ? 0 : -1;
            at += 2;
        } else if (strcmp(op, "fgets") == 0) {
            result = fgets(buffer, sizeof buffer, stream) != nullptr ? 0 : -1;
        } else if (strcmp(op, "fclose") == 0) {
            result = fclose(stream);
        } else if (strcmp(op, "write") == 0) {
            result = write(fd, buffer, unescape(first, buffer));
            ++at;
        } else if (strcmp(op, "read") == 0 || strcmp(op, "readchk") == 0) {
            count = strtoul(first, nullptr, 10);
            if (strcmp(op, "read") == 0 && count > sizeof buffer) {
                fprintf(stderr, "emu_probe: at most %zu bytes\n", sizeof buffer);
                return 99;
            }
            result = strcmp(op, "read") == 0 ? read(fd, buffer, count)
                                             : __read_chk(fd, buffer, count, sizeof buffer);
            ++at;
        } else if (strcmp(op, "set") == 0 || strcmp(op, "get") == 0 || strcmp(op, "ioctl") == 0) {
            const bool set = strcmp(op, "set") == 0;
            word = set ? static_cast<uint32_t>(strtoul(first, nullptr, 16)) : 0;
            const unsigned long request = set                      ? _IOW('k', 1, int)
                                          : strcmp(op, "get") == 0 ? _IOR('k', 2, int)
                                                                   : strtoul(first, nullptr, 16);
            result = ioctl(fd, request, &word);
            at += strcmp(op, "get") == 0 ? 0 : 1;
        } else if (strcmp(op, "close") == 0) {
            result = close(fd);
        } else if (strcmp(op, "dupfd") == 0 || strcmp(op, "dup2") == 0) {
            const int number = atoi(first);
            result = strcmp(op, "dupfd") == 0 ? fcntl(fd, F_DUPFD, number) : dup2(fd, number);
            fd = result >= 0 ? static_cast<int>(result) : fd;
            ++at;
        } else if (strcmp(op, "rawwrite") == 0) {
            result = syscall(SYS_write, fd, buffer, unescape(first, buffer));
            ++at;
        } else if (strcmp(op, "fstat") == 0) {
            struct stat info {};
            result = fstat(fd, &info);
            type = S_ISCHR(info.st_mode)    ? "chr"
                   : S_ISREG(info.st_mode)  ? "reg"
                   : S_ISFIFO(info.st_mode) ? "fifo"
                                            : "other";
        } else if (strcmp(op, "exit") == 0) {
            fflush(stdout);
            exit(atoi(first));
        } else if (strcmp(op, "signal") == 0) {
            fflush(stdout);
            raise(atoi(first));
        } else {
            fprintf(stderr, "emu_probe: unknown operation %s\n", op);
            return 99;
        }
        print_result(op, result, errno);
        if (strcmp(op, "fgets") == 0 && result == 0) {
            putchar(' ');
            print_bytes(buffer, strlen(buffer));
        } else if (strncmp(op, "read", 4) == 0 && result > 0) {
            putchar(' ');
            print_bytes(buffer,
                        static_cast<size_t>(result) < count ? static_cast<size_t>(result) : count);
        } else if (strcmp(op, "get") == 0) {
            printf(" word=0x%08x", word);
        } else if (strcmp(op, "fstat") == 0 && result == 0) {
            printf(" %s", type);
        }
        putchar('\n');
    }
    return 0;
}
