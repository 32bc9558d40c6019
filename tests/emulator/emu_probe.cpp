// A program for the emulator's tests to run on the emulated board: performs the operations
// named on its command line, one after another, and prints what each returned.
//
//   open PATH FLAGS   FLAGS: O_RDWR|O_CREAT|O_NOATIME ...
//   fopen PATH MODE, fgets, fclose
//   write TEXT (\xNN escapes), read N, set HEXWORD, get, ioctl HEXREQUEST, close
//   dupfd N (fcntl F_DUPFD from N, shown as "fd"), rawwrite TEXT (the system call, past the
//   C library), fstat (adds the file type: chr, reg, fifo or other), chdir DIR, exit N, signal N
// The duplicating operations make the copy the descriptor the next operations use.
//
// Each operation prints "OP -> RESULT", RESULT being the value ("fd" for a descriptor) or
// "-1 ENAME"; reads add the bytes they returned, get the word. Before each operation errno is
// set to EDOM; a successful one that changed it adds " (errno changed)".
#include "hornio.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/ioctl.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const std::map<std::string, int> flag_names = {
    {"O_RDONLY", O_RDONLY},     {"O_WRONLY", O_WRONLY},       {"O_RDWR", O_RDWR},
    {"O_ACCMODE", O_ACCMODE},   {"O_CREAT", O_CREAT},         {"O_EXCL", O_EXCL},
    {"O_NOCTTY", O_NOCTTY},     {"O_TRUNC", O_TRUNC},         {"O_APPEND", O_APPEND},
    {"O_NONBLOCK", O_NONBLOCK}, {"O_DSYNC", O_DSYNC},         {"O_SYNC", O_SYNC},
    {"O_CLOEXEC", O_CLOEXEC},   {"O_DIRECTORY", O_DIRECTORY}, {"O_NOFOLLOW", O_NOFOLLOW},
    {"O_NOATIME", O_NOATIME},
};

[[noreturn]] void refuse(const std::string& what) {
    fprintf(stderr, "emu_probe: %s\n", what.c_str());
    exit(99);
}

int parse_flags(const std::string& text) {
    int flags = 0;
    std::stringstream words(text);
    for (std::string word; std::getline(words, word, '|');) {
        const auto found = flag_names.find(word);
        if (found == flag_names.end()) {
            refuse("unknown flag " + word);
        }
        flags |= found->second;
    }
    return flags;
}

// C-style \xNN escapes to bytes.
std::string unescape(const std::string& text) {
    std::string bytes;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text.compare(at, 2, "\\x") == 0 && at + 3 < text.size()) {
            bytes += static_cast<char>(strtol(text.substr(at + 2, 2).c_str(), nullptr, 16));
            at += 3;
        } else {
            bytes += text[at];
        }
    }
    return bytes;
}

void print_bytes(const char* bytes, size_t length) {
    printf(" \"");
    for (const char* at = bytes; at != bytes + length; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        printf(byte >= 0x20 && byte < 0x7f && byte != '\\' ? "%c" : "\\x%02x", byte);
    }
    putchar('"');
}

} // namespace

int main(int argc, char** argv) {
    int fd = -1;
    FILE* stream = nullptr;
    static char buffer[8192];
    for (int at = 1; at < argc; ++at) {
        const std::string op = argv[at];
        const auto argument = [&at, argc, argv]() -> const char* {
            return at + 1 < argc ? argv[++at] : "";
        };
        long result = 0;
        bool show = false; // the buffer's first shown bytes, as a read returned them
        size_t shown = 0;
        uint32_t word = 0;
        const char* type = "";
        errno = EDOM;
        if (op == "open") {
            const char* path = argument();
            result = open(path, parse_flags(argument()), 0600);
            fd = result >= 0 ? static_cast<int>(result) : fd;
        } else if (op == "fopen") {
            const char* path = argument();
            stream = fopen(path, argument());
            result = stream != nullptr ? 0 : -1;
        } else if (op == "fgets") {
            result = fgets(buffer, sizeof buffer, stream) != nullptr ? 0 : -1;
            show = result == 0;
            shown = show ? strlen(buffer) : 0;
        } else if (op == "fclose") {
            result = fclose(stream);
        } else if (op == "write" || op == "rawwrite") {
            const std::string bytes = unescape(argument());
            result = op == "write" ? write(fd, bytes.data(), bytes.size())
                                   : syscall(SYS_write, fd, bytes.data(), bytes.size());
        } else if (op == "read") {
            const size_t count = strtoul(argument(), nullptr, 10);
            if (count > sizeof buffer) {
                refuse("at most " + std::to_string(sizeof buffer) + " bytes");
            }
            result = read(fd, buffer, count);
            show = result > 0;
            shown = show ? std::min(static_cast<size_t>(result), count) : 0;
        } else if (op == "set" || op == "get" || op == "ioctl") {
            const char* given = op == "get" ? "" : argument();
            word = op == "set" ? static_cast<uint32_t>(strtoul(given, nullptr, 16)) : 0;
            const unsigned long request = op == "set"   ? HORNIO_SET_REQUEST
                                          : op == "get" ? HORNIO_GET_REQUEST
                                                        : strtoul(given, nullptr, 16);
            result = ioctl(fd, request, &word);
        } else if (op == "close") {
            result = close(fd);
        } else if (op == "chdir") {
            result = chdir(argument());
        } else if (op == "dupfd") {
            result = fcntl(fd, F_DUPFD, atoi(argument()));
            fd = result >= 0 ? static_cast<int>(result) : fd;
        } else if (op == "fstat") {
            struct stat info {};
            result = fstat(fd, &info);
            type = S_ISCHR(info.st_mode)    ? " chr"
                   : S_ISREG(info.st_mode)  ? " reg"
                   : S_ISFIFO(info.st_mode) ? " fifo"
                                            : " other";
        } else if (op == "exit" || op == "signal") {
            const int number = atoi(argument());
            fflush(stdout);
            if (op == "exit") {
                exit(number);
            }
            raise(number);
        } else {
            refuse("unknown operation " + op);
        }
        const int error = errno;
        const char* name = strerrorname_np(error);
        const char* changed = error != EDOM ? " (errno changed)" : "";
        if (result < 0 && name != nullptr) {
            printf("%s -> %ld %s", op.c_str(), result, name);
        } else if (result < 0) {
            printf("%s -> %ld errno %d", op.c_str(), result, error);
        } else if (op == "open" || op == "dupfd") {
            printf("%s -> fd%s", op.c_str(), changed);
        } else {
            printf("%s -> %ld%s", op.c_str(), result, changed);
        }
        if (show) {
            print_bytes(buffer, shown);
        } else if (op == "get") {
            printf(" word=0x%08x", word);
        } else if (op == "fstat" && result == 0) {
            printf("%s", type);
        }
        putchar('\n');
    }
    return 0;
}
