// The C library's ways of running another program, put in front of libc's own so that hornemu
// can tell whether every program of a run had the emulated board: before an exec the scenario's
// "loaded" gets "exec PID" (and "stay PID" when the exec fails), after a posix_spawn "spawn
// PID". The new program appends its own "PID" when the library is loaded into it; an exec or a
// spawn without one ran a program without the library (a cleared environment, LD_PRELOAD
// unset, a static program).

#include "logline.h"
#include "scenario.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <spawn.h>
#include <unistd.h>

#define HORNEMU_EXPORT extern "C" __attribute__((visibility("default")))

namespace hornemu {
namespace {

// libc's own function of this name.
template <typename Fn>
Fn real(const char* name) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dlsym's answer is a function
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

void note(const char* kind, pid_t pid) {
    if (scenario_dir() != nullptr) {
        const int saved = errno;
        log_line("loaded").text(kind).unsigned_decimal(static_cast<size_t>(pid)).finish();
        errno = saved;
    }
}

// Runs an exec between its two notes; returns only when it failed.
template <typename Exec>
int noted_exec(Exec exec) {
    note("exec ", getpid());
    const int result = exec();
    note("stay ", getpid());
    return result;
}

using exec_fn = int (*)(const char*, char* const*, char* const*);

// execl and its variants: exec of file with the arguments after arg, up to the null one, and
// then for execle the environment.
int list_exec(exec_fn exec, const char* file, const char* arg, va_list& rest,
              bool with_environment) {
    constexpr size_t most = 4096;
    std::array<char*, most + 1> argv{};
    // exec's argv is char* const*, though no exec writes through it.
    char* next = const_cast<char*>(arg); // NOLINT(cppcoreguidelines-pro-type-const-cast)
    auto* at = argv.begin();
    for (; next != nullptr && at != argv.end() - 1; next = va_arg(rest, char*)) {
        *at++ = next;
    }
    char* const* envp = with_environment ? va_arg(rest, char* const*) : environ;
    if (next != nullptr) {
        errno = E2BIG;
        return -1;
    }
    return exec(file, argv.data(), envp);
}

using spawn_fn = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                         const posix_spawnattr_t*, char* const*, char* const*);

int spawned(spawn_fn spawn, pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
            const posix_spawnattr_t* attributes, char* const* argv, char* const* envp) {
    pid_t child = 0;
    const int result = spawn(&child, path, actions, attributes, argv, envp);
    if (result == 0) {
        note("spawn ", child);
    }
    if (pid != nullptr) {
        *pid = child;
    }
    return result;
}

} // namespace
} // namespace hornemu

using namespace hornemu;

HORNEMU_EXPORT int execve(const char* path, char* const* argv, char* const* envp) {
    return noted_exec([&] { return real<exec_fn>("execve")(path, argv, envp); });
}

HORNEMU_EXPORT int execvpe(const char* file, char* const* argv, char* const* envp) {
    return noted_exec([&] { return real<exec_fn>("execvpe")(file, argv, envp); });
}

HORNEMU_EXPORT int execv(const char* path, char* const* argv) {
    return execve(path, argv, environ);
}

HORNEMU_EXPORT int execvp(const char* file, char* const* argv) {
    return execvpe(file, argv, environ);
}

HORNEMU_EXPORT int fexecve(int fd, char* const* argv, char* const* envp) {
    using fexec_fn = int (*)(int, char* const*, char* const*);
    return noted_exec([&] { return real<fexec_fn>("fexecve")(fd, argv, envp); });
}

HORNEMU_EXPORT int execl(const char* path, const char* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    const int result = list_exec(execve, path, arg, rest, false);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int execlp(const char* file, const char* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    const int result = list_exec(execvpe, file, arg, rest, false);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int execle(const char* path, const char* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    const int result = list_exec(execve, path, arg, rest, true);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int posix_spawn(pid_t* pid, const char* path,
                               const posix_spawn_file_actions_t* actions,
                               const posix_spawnattr_t* attributes, char* const* argv,
                               char* const* envp) {
    return spawned(real<spawn_fn>("posix_spawn"), pid, path, actions, attributes, argv, envp);
}

HORNEMU_EXPORT int posix_spawnp(pid_t* pid, const char* file,
                                const posix_spawn_file_actions_t* actions,
                                const posix_spawnattr_t* attributes, char* const* argv,
                                char* const* envp) {
    return spawned(real<spawn_fn>("posix_spawnp"), pid, file, actions, attributes, argv, envp);
}
