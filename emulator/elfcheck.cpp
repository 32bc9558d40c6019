#include "elfcheck.h"

#include <elf.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

namespace hornemu {
namespace {

// An unsigned field of size bytes at bytes[0], in the file's byte order.
uint64_t field(const unsigned char* bytes, int size, bool big_endian) {
    uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        const unsigned char byte = bytes[big_endian ? i : size - 1 - i];
        value = value << 8 | byte;
    }
    return value;
}

} // namespace

program_kind examine_program(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return program_kind::unreadable;
    }
    unsigned char header[sizeof(Elf64_Ehdr)] = {};
    const ssize_t got = pread(fd, header, sizeof header, 0);
    const bool elf = got >= static_cast<ssize_t>(sizeof(Elf32_Ehdr)) &&
                     memcmp(header, ELFMAG, SELFMAG) == 0 &&
                     (header[EI_CLASS] == ELFCLASS32 || header[EI_CLASS] == ELFCLASS64) &&
                     (header[EI_DATA] == ELFDATA2LSB || header[EI_DATA] == ELFDATA2MSB);
    if (!elf) {
        close(fd);
        return program_kind::other;
    }
    const bool wide = header[EI_CLASS] == ELFCLASS64;
    const bool big = header[EI_DATA] == ELFDATA2MSB;
    const uint64_t table = wide ? field(header + offsetof(Elf64_Ehdr, e_phoff), 8, big)
                                : field(header + offsetof(Elf32_Ehdr, e_phoff), 4, big);
    const uint64_t entry_size = wide ? field(header + offsetof(Elf64_Ehdr, e_phentsize), 2, big)
                                     : field(header + offsetof(Elf32_Ehdr, e_phentsize), 2, big);
    const uint64_t entries = wide ? field(header + offsetof(Elf64_Ehdr, e_phnum), 2, big)
                                  : field(header + offsetof(Elf32_Ehdr, e_phnum), 2, big);
    bool interpreter = false;
    for (uint64_t i = 0; i < entries && !interpreter; ++i) {
        unsigned char type[4];
        const off_t at = static_cast<off_t>(table + i * entry_size);
        if (pread(fd, type, sizeof type, at) != static_cast<ssize_t>(sizeof type)) {
            break;
        }
        interpreter = field(type, 4, big) == PT_INTERP;
    }
    close(fd);
    return interpreter ? program_kind::dynamic : program_kind::static_elf;
}

} // namespace hornemu
