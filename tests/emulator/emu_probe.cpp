// A program for the emulator's tests to run on the emulated board: performs the operations
// named on its command line, one after another, and prints what each returned.
//
//   open PATH FLAGS (O_RDWR|O_CREAT ...), fopen PATH MODE, fgets, fclose, close, chdir DIR
//   write TEXT (\xNN escapes), rawwrite TEXT (the system call, past the C library), read N,
//   set HEXWORD, get, ioctl HEXREQUEST, dupfd N (fcntl F_DUPFD), fstat, exit N
// The descriptor an open or a duplicate returns is the one the next operations use.
//
// Each prints "OP -> RESULT", RESULT being the value ("fd" for a descriptor) or "-1 ENAME";
// reads add the bytes they returned, get the word, fstat the file's type. Before each operation
// errno is set to EDOM; a successful one that changed it adds " (errno changed)".
#include "hornio.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int fd = -1;
FILE* stream = nullptr;
char buffer[8192];
std::string shown; // what the operation adds to its line

int flags_of(const std::string& text) {
    constexpr std::pair<const char*, int> names[] = {
        {"O_RDONLY", O_RDONLY}, {"O_WRONLY", O_WRONLY},   {"O_RDWR", O_RDWR},
        {"O_CREAT", O_CREAT},   {"O_CLOEXEC", O_CLOEXEC}, {"O_ACCMODE", O_ACCMODE}};
    int flags = 0;
    for (size_t at = 0; at < text.size(); at = text.find('|', at) + 1) {
        const std::string word = text.substr(at, text.find('|', at) - at);
        const auto* found = std::find_if(std::begin(names), std::end(names),
                                         [&word](const auto& name) { return word == name.first; });
        flags |= found != std::end(names) ? found->second : 0;
        if (text.find('|', at) == std::string::npos) {
            break;
        }
    }
    return flags;
}

// \xNN escapes to bytes.
std::string unescape(const std::string& text) {
    std::string bytes;
    for (size_t at = 0; at < text.size(); ++at) {
        const bool escape = text.compare(at, 2, "\\x") == 0 && at + 3 < text.size();
        bytes +=
            escape ? static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)) : text[at];
        at += escape ? 3 : 0;
    }
    return bytes;
}

// Bytes in quotes, those outside ' '..'~' and '\\' as \xNN.
std::string quoted(const char* bytes, size_t length) {
    std::string text = " \"";
    for (const char* at = bytes; at != bytes + length; ++at) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(*at));
        text += *at >= ' ' && *at < 0x7f && *at != '\\' ? std::string(1, *at) : escape;
    }
    return text + '"';
}

long request(unsigned long number, const char* given) {
    auto word = static_cast<uint32_t>(strtoul(given, nullptr, 16));
    const int result = ioctl(fd, number, &word);
    char text[32];
    std::snprintf(text, sizeof text, " word=0x%08x", word);
    shown = number == HORNIO_GET_REQUEST ? text : "";
    return result;
}

// One operation and its argument, or argument2 for the two that take two.
long perform(const std::string& op, const char* argument, const char* argument2) {
    struct stat info {};
    const auto bytes = unescape(argument);
    if (op == "open" || op == "dupfd") {
        const int opened = op == "open" ? open(argument, flags_of(argument2), 0600)
                                        : fcntl(fd, F_DUPFD, atoi(argument));
        fd = opened >= 0 ? opened : fd;
        return opened;
    }
    if (op == "fopen") {
        stream = fopen(argument, argument2);
        return stream != nullptr ? 0 : -1;
    }
    if (op == "fgets") {
        const bool got = fgets(buffer, sizeof buffer, stream) != nullptr;
        shown = got ? quoted(buffer, strlen(buffer)) : "";
        return got ? 0 : -1;
    }
    if (op == "read") {
        const size_t count = std::min<size_t>(strtoul(argument, nullptr, 10), sizeof buffer);
        const ssize_t got = read(fd, buffer, count);
        shown = got > 0 ? quoted(buffer, std::min(static_cast<size_t>(got), count)) : "";
        return got;
    }
    if (op == "fstat") {
        const int result = fstat(fd, &info);
        shown = S_ISCHR(info.st_mode)    ? " chr"
                : S_ISREG(info.st_mode)  ? " reg"
                : S_ISFIFO(info.st_mode) ? " fifo"
                                         : " other";
        return result;
    }
    return op == "write"      ? write(fd, bytes.data(), bytes.size())
           : op == "rawwrite" ? syscall(SYS_write, fd, bytes.data(), bytes.size())
           : op == "set"      ? request(HORNIO_SET_REQUEST, argument)
           : op == "get"      ? request(HORNIO_GET_REQUEST, "0")
           : op == "ioctl"    ? request(strtoul(argument, nullptr, 16), "0")
           : op == "fclose"   ? fclose(stream)
           : op == "close"    ? close(fd)
                              : chdir(argument);
}

} // namespace

int main(int argc, char** argv) {
    for (int at = 1; at < argc; ++at) {
        const std::string op = argv[at];
        const bool takes_two = op == "open" || op == "fopen";
        const bool takes_one = takes_two || op == "write" || op == "rawwrite" || op == "read" ||
                               op == "set" || op == "ioctl" || op == "chdir" || op == "dupfd" ||
                               op == "exit";
        const char* argument = takes_one && at + 1 < argc ? argv[++at] : "";
        const char* argument2 = takes_two && at + 1 < argc ? argv[++at] : "";
        const bool known = takes_one || op == "fgets" || op == "fstat" || op == "get" ||
                           op == "fclose" || op == "close";
        if (op == "exit" || !known) {
            fflush(stdout);
            fprintf(stderr, known ? "" : "emu_probe: unknown operation %s\n", op.c_str());
            exit(known ? atoi(argument) : 99);
        }
        shown.clear();
        errno = EDOM;
        const long result = perform(op, argument, argument2);
        const int error = errno;
        const char* name = strerrorname_np(error);
        if (result < 0) {
            printf("%s -> %ld %s%s\n", op.c_str(), result, name != nullptr ? name : "errno",
                   name != nullptr ? "" : (" " + std::to_string(error)).c_str());
        } else {
            printf("%s -> %s%s%s\n", op.c_str(),
                   op == "open" || op == "dupfd" ? "fd" : std::to_string(result).c_str(),
                   error != EDOM ? " (errno changed)" : "", shown.c_str());
        }
    }
    return 0;
}
