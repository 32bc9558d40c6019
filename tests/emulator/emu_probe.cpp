// A program for the emulator's tests: performs the operations named on its command line on the
// emulated board, and prints what each returned ("OP -> RESULT", RESULT being the value, "fd"
// for a descriptor, or "-1 ENAME"; reads add the bytes, get the word, fstat the file's type):
//   open PATH FLAGS (O_RDWR|O_CREAT ...), dupfd N (fcntl F_DUPFD), close, chdir DIR, fstat,
//   write TEXT, rawwrite TEXT (the system call, past the C library), read N, set HEXWORD, get,
//   ioctl HEXREQUEST, fopen PATH MODE (the stream read whole, then closed)
// Operations act on the descriptor the last open or duplicate returned. errno is EDOM before
// each; a successful one that changed it adds " (errno changed)".
#include "emulator/logrecord.h"
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
std::string shown; // what the operation adds to its line

long number(const char* text, int base = 10) {
    return std::strtol(text, nullptr, base);
}

int flags_of(const std::string& text) {
    const auto has = [&text](const char* name) { return text.find(name) != std::string::npos; };
    return (has("O_CREAT") ? O_CREAT : 0) | (has("O_ACCMODE")  ? O_ACCMODE
                                             : has("O_RDWR")   ? O_RDWR
                                             : has("O_WRONLY") ? O_WRONLY
                                                               : O_RDONLY);
}

long request(unsigned long code, const char* given) {
    auto word = static_cast<uint32_t>(number(given, 16));
    const int result = ioctl(fd, code, &word);
    char text[32];
    std::snprintf(text, sizeof text, " word=0x%08x", word);
    shown = code == HORNIO_GET_REQUEST ? text : "";
    return result;
}

long put(const char* text, bool raw) {
    const size_t length = std::strlen(text);
    return raw ? syscall(SYS_write, fd, text, length) : write(fd, text, length);
}

long descriptor(int opened) {
    fd = opened >= 0 ? opened : fd;
    return opened;
}

long read_some(size_t count) {
    std::string buffer(std::min<size_t>(count, 8192), '\0');
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    shown = got > 0 ? " " + hornemu::in_quotes(buffer.substr(0, static_cast<size_t>(got))) : "";
    return got;
}

long read_stream(const char* path, const char* mode) {
    FILE* stream = fopen(path, mode);
    if (stream == nullptr) {
        return -1;
    }
    char text[256];
    shown = " " + hornemu::in_quotes({text, fread(text, 1, sizeof text, stream)});
    return fclose(stream);
}

long file_type() {
    struct stat info {};
    const int result = fstat(fd, &info);
    shown = S_ISCHR(info.st_mode)    ? " chr"
            : S_ISREG(info.st_mode)  ? " reg"
            : S_ISFIFO(info.st_mode) ? " fifo"
                                     : " other";
    return result;
}

struct operation {
    const char* name;
    int arguments;
    long (*perform)(const char* first, const char* second);
};

const operation operations[] = {
    {"open", 2,
     [](const char* path, const char* flags) {
         return descriptor(open(path, flags_of(flags), 0600));
     }},
    {"dupfd", 1,
     [](const char* low, const char*) { return descriptor(fcntl(fd, F_DUPFD, number(low))); }},
    {"fopen", 2, read_stream},
    {"close", 0, [](const char*, const char*) { return long{close(fd)}; }},
    {"chdir", 1, [](const char* dir, const char*) { return long{chdir(dir)}; }},
    {"write", 1, [](const char* text, const char*) { return put(text, false); }},
    {"rawwrite", 1, [](const char* text, const char*) { return put(text, true); }},
    {"read", 1,
     [](const char* count, const char*) { return read_some(static_cast<size_t>(number(count))); }},
    {"set", 1, [](const char* word, const char*) { return request(HORNIO_SET_REQUEST, word); }},
    {"get", 0, [](const char*, const char*) { return request(HORNIO_GET_REQUEST, "0"); }},
    {"ioctl", 1,
     [](const char* code, const char*) { return request(unsigned(number(code, 16)), "0"); }},
    {"fstat", 0, [](const char*, const char*) { return file_type(); }}};

} // namespace

int main(int argc, char** argv) {
    for (int at = 1; at < argc; ++at) {
        const std::string name = argv[at];
        const auto* op = std::find_if(std::begin(operations), std::end(operations),
                                      [&name](const operation& o) { return name == o.name; });
        if (op == std::end(operations) || at + op->arguments >= argc) {
            fprintf(stderr, "emu_probe: cannot perform %s\n", name.c_str());
            return 99;
        }
        const char* first = op->arguments > 0 ? argv[++at] : "";
        const char* second = op->arguments > 1 ? argv[++at] : "";
        shown.clear();
        errno = EDOM;
        const long result = op->perform(first, second);
        const int error = errno;
        const char* error_name = strerrorname_np(error);
        const std::string told = result >= 0             ? ""
                                 : error_name != nullptr ? std::string(" ") + error_name
                                                         : " errno " + std::to_string(error);
        const bool is_fd = result >= 0 && (name == "open" || name == "dupfd");
        printf("%s -> %s%s%s%s\n", name.c_str(), is_fd ? "fd" : std::to_string(result).c_str(),
               told.c_str(), result >= 0 && error != EDOM ? " (errno changed)" : "",
               result >= 0 ? shown.c_str() : "");
    }
    return 0;
}
