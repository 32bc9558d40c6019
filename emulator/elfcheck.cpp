#include "elfcheck.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace hornemu {
namespace {

// An unsigned field of size bytes at bytes, in the file's byte order.
uint64_t field(const unsigned char* bytes, int size, bool big_endian) {
    uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        const unsigned char byte = *(bytes + (big_endian ? i : size - 1 - i));
        value = value << 8U | byte;
    }
    return value;
}

} // namespace

program_kind examine_program(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return program_kind::unreadable;
    }
    std::array<unsigned char, sizeof(Elf64_Ehdr)> header{};
    const ssize_t got = pread(fd, header.data(), header.size(), 0);
    const unsigned char elf_class = header.at(EI_CLASS);
    const unsigned char elf_data = header.at(EI_DATA);
    const bool elf = got >= static_cast<ssize_t>(sizeof(Elf32_Ehdr)) &&
                     std::memcmp(header.data(), ELFMAG, SELFMAG) == 0 &&
                     (elf_class == ELFCLASS32 || elf_class == ELFCLASS64) &&
                     (elf_data == ELFDATA2LSB || elf_data == ELFDATA2MSB);
    if (!elf) {
        close(fd);
        return program_kind::other;
    }
    const bool wide = elf_class == ELFCLASS64;
    const bool big = elf_data == ELFDATA2MSB;
    const unsigned char* at = header.data();
    const uint64_t table = wide ? field(at + offsetof(Elf64_Ehdr, e_phoff), 8, big)
                                : field(at + offsetof(Elf32_Ehdr, e_phoff), 4, big);
    const uint64_t entry_size = wide ? field(at + offsetof(Elf64_Ehdr, e_phentsize), 2, big)
                                     : field(at + offsetof(Elf32_Ehdr, e_phentsize), 2, big);
    const uint64_t entries = wide ? field(at + offsetof(Elf64_Ehdr, e_phnum), 2, big)
                                  : field(at + offsetof(Elf32_Ehdr, e_phnum), 2, big);
    bool interpreter = false;
    for (uint64_t i = 0; i < entries && !interpreter; ++i) {
        std::array<unsigned char, 4> type{};
        const auto offset = static_cast<off_t>(table + i * entry_size);
        if (pread(fd, type.data(), type.size(), offset) != static_cast<ssize_t>(type.size())) {
            break;
        }
        interpreter = field(type.data(), 4, big) == PT_INTERP;
    }
    close(fd);
    return interpreter ? program_kind::dynamic : program_kind::static_elf;
}

std::optional<std::string> secure_mode(const std::string& path) {
    if (getuid() != geteuid() || getgid() != getegid()) {
        return std::string("would be started by a hornemu that is set-user-ID or set-group-ID");
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt; // the exec tells why
    }
    // The kernel ignores the set-group-ID bit without group execution (mandatory locking).
    const bool setgid = (info.st_mode & S_ISGID) != 0 && (info.st_mode & S_IXGRP) != 0;
    if ((info.st_mode & S_ISUID) != 0 && info.st_uid != getuid()) {
        return "is set-user-ID (owner " + std::to_string(info.st_uid) + ")";
    }
    if (setgid && info.st_gid != getgid()) {
        return "is set-group-ID (group " + std::to_string(info.st_gid) + ")";
    }
    // Capabilities are read whoever the caller is; ERANGE tells of a value too long for none.
    if (getxattr(path.c_str(), "security.capability", nullptr, 0) >= 0 || errno == ERANGE) {
        return std::string("has file capabilities");
    }
    return std::nullopt;
}

} // namespace hornemu
