// The scenario HORNEMU_DIR names, as libhornemu.so sees it: board.conf, the scenario's files,
// the log, and the emulated driver whose memory the scenario keeps. Plain C library calls
// only: the library is loaded into arbitrary programs and has no C++ runtime.
#pragma once

#include "driver_model/hornio_model.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

namespace hornemu {

constexpr size_t path_max = 4096;

// The C library's own entry point of that name, past the interposer; looked up when the
// library is loaded, so that a call passed through later (from a signal handler, say) does no
// more than the C library's own. One the C library lacks ends the process with status 125.
void* libc_address(const char* name);
template <typename Fn>
Fn libc(const char* name) {
    void* address = libc_address(name);
    Fn function = nullptr;
    std::memcpy(&function, &address, sizeof function);
    return function;
}

// What stands at "/dev/hornio".
enum class node_type : unsigned char { device, regular, fifo, absent };

struct board_config {
    int lampstat_errno; // opening "/proc/lampstat" fails with it (0: it does not)
    node_type node;
    hornio_faults faults;
};

// The scenario directory, or nullptr when HORNEMU_DIR is unset and everything passes through.
// Read once: the process id then goes to the scenario's "loaded", and board.conf is parsed, a
// broken one ending the process.
const char* scenario_dir();
const board_config& config();
const char* scenario_path(char (&buffer)[path_max], const char* name);

// One line appended to a scenario file (the log unless another is named) with the real open
// and write, never through stdio; a line longer than the buffer goes in several pieces.
class log_line {
  public:
    explicit log_line(const char* file = "log") : file_(file) {}
    log_line& text(const char* words);
    log_line& decimal(long long value);
    log_line& count(size_t value);
    log_line& hex(const void* bytes, size_t length);
    log_line& hex32(uint32_t value);      // "0x%08x"
    log_line& escaped(const char* words); // bytes outside '!'..'~', and '\\', as \xNN
    log_line& flags(int flags);
    log_line& error(int value);                    // "ENAME", or "errno N"
    log_line& result(long value, int error_value); // " -> value", or " -> -1 ENAME"
    void finish();

  private:
    log_line& digits(uint32_t value, unsigned at_least);
    void put(const char* bytes, size_t length);
    void flush();

    const char* file_;
    char buffer_[4096] = {};
    size_t length_ = 0;
};

// What a driver operation returns: value, or -1 with errno error when error is not 0.
struct outcome {
    long value;
    int error;
};

outcome driver_write(const void* bytes, size_t count);
// The scenario's reply file when there is one, else the driver's status.
outcome driver_read(void* buffer, size_t count);
// A request with the word its argument points to (null: none); filled tells whether the driver
// wrote the word.
outcome driver_request(unsigned long request, uint32_t* word, bool& filled);

// Whether fd is a descriptor the emulated driver opened.
bool is_driver_node(int fd);

// fstat's answer for fd, in any of the C library's stat structures: the emulated driver's node
// is a character device, whatever file stands behind it.
template <typename Stat>
int as_device(int fd, int result, Stat* info) {
    if (result == 0 && info != nullptr && is_driver_node(fd)) {
        info->st_mode = static_cast<decltype(info->st_mode)>(S_IFCHR | 0660);
        // makedev(10, 61) written out: st_rdev is narrower than dev_t on some architectures.
        info->st_rdev = (10U << 8U) | 61U;
        info->st_size = 0;
    }
    return result;
}

} // namespace hornemu
