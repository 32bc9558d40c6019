// hornemu: runs a program on the emulated board (libhornemu.so, preloaded) and then tells on
// standard error, in plain words, what reached "/proc/lampstat" and the buzzer driver.

#include "account.h"
#include "elfcheck.h"
#include "errnames.h"
#include "hornio.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sched.h>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int usage_status = 125;
constexpr int cannot_run_status = 126;
constexpr int not_found_status = 127;

constexpr char usage_line[] = "Usage: hornemu [OPTIONS] -- PROGRAM [ARGS...]";
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
    "hornemu itself, 126 when PROGRAM cannot be run or ran without the emulated board\n"
    "(statically linked, set-user-ID, ...), 127 when it is not found.\n";

constexpr char qtr_pn_lampstat[] = "leds: status=off error=off\nmodel: QTR-PN\n";
constexpr char request_lampstat[] = "leds: status=off error=off\nmodel: RQ-200\n";

// The most hornemu copies of a --lampstat or --reply file.
constexpr size_t file_limit = size_t{1} << 20U;

// What ends hornemu with a message: status is its exit status.
class failure : public std::runtime_error {
  public:
    failure(int status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    [[nodiscard]] int status() const { return status_; }

  private:
    int status_;
};

[[noreturn]] void usage_error(const std::string& message) {
    throw failure(usage_status, message + "\n" + usage_line);
}

// "what: the system's message for error".
std::string system_message(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

void say(const std::string& line) {
    std::fputs(("hornemu: " + line + "\n").c_str(), stderr);
}

enum class lampstat_source { unchanged, text, file, none };

struct options {
    bool help = false;
    lampstat_source lampstat = lampstat_source::unchanged;
    std::string lampstat_value; // the text or the file
    std::optional<std::string> reply_file;
    std::optional<std::string> dir;
    std::string board_conf;           // directives, written when there are any
    std::vector<std::string> program; // PROGRAM and its arguments
    std::array<bool, 3> closed{};     // standard descriptors PROGRAM starts without
    bool joined = false;              // PROGRAM's standard error is a duplicate of its output
};

void set_board(options& chosen, const std::string& value) {
    if (value == "none") {
        chosen.lampstat = lampstat_source::none;
    } else if (value == "qtr-pn" || value == "request") {
        chosen.lampstat = lampstat_source::text;
        chosen.lampstat_value = value == "qtr-pn" ? qtr_pn_lampstat : request_lampstat;
    } else {
        usage_error("--board wants qtr-pn, request or none: " + value);
    }
}

void set_lampstat(options& chosen, const std::string& value) {
    chosen.lampstat = lampstat_source::file;
    chosen.lampstat_value = value;
}

void set_reply(options& chosen, const std::string& value) {
    chosen.reply_file = value;
}

void set_dir(options& chosen, const std::string& value) {
    if (value.empty()) {
        usage_error("--dir wants a directory, not an empty name");
    }
    chosen.dir = value;
}

void set_node(options& chosen, const std::string& value) {
    if (value != "device" && value != "regular" && value != "fifo") {
        usage_error("--node wants device, regular or fifo: " + value);
    }
    chosen.board_conf += "node " + value + "\n";
}

// --close 0,1,2: which standard descriptors to close.
void set_closed(options& chosen, const std::string& value) {
    for (size_t at = 0;; at += 2) {
        const bool digit = at < value.size() && value.at(at) >= '0' && value.at(at) <= '2';
        if (!digit || (at + 1 < value.size() && value.at(at + 1) != ',')) {
            usage_error("--close wants a comma-separated list of 0, 1 and 2: " + value);
        }
        chosen.closed.at(static_cast<size_t>(value.at(at) - '0')) = true;
        if (at + 1 >= value.size()) {
            return;
        }
    }
}

// "OP:VALUE" split at the colon, OP one of ops; nothing when it is not.
std::optional<std::pair<std::string, std::string>>
operation(const std::string& value, std::initializer_list<std::string_view> ops) {
    const size_t colon = value.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    std::string op = value.substr(0, colon);
    if (std::find(ops.begin(), ops.end(), op) == ops.end()) {
        return std::nullopt;
    }
    return std::make_pair(std::move(op), value.substr(colon + 1));
}

// --fail OP:ERRNO becomes "OP fail ENAME" (or the number, for an errno without a name).
void set_fail(options& chosen, const std::string& value) {
    const auto op = operation(value, {"lampstat", "open", "write", "read", "ioctl"});
    if (!op) {
        usage_error("--fail wants OP:ERRNO with OP one of lampstat, open, write, read, ioctl: " +
                    value);
    }
    const int error = hornemu::errno_parse(op->second.data(), op->second.size());
    if (error == 0) {
        usage_error("unknown errno: " + op->second);
    }
    const char* name = hornemu::errno_name(error);
    chosen.board_conf +=
        op->first + " fail " + (name != nullptr ? name : std::to_string(error)) + "\n";
}

// --return OP:N becomes "OP return N". A result no call can have is refused: a failure is -1
// with an errno (--fail), and the kernel's -1 to -4095 reach a program as -1 and errno.
void set_return(options& chosen, const std::string& value) {
    const auto op = operation(value, {"write", "read", "ioctl"});
    if (!op) {
        usage_error("--return wants OP:N with OP one of write, read, ioctl: " + value);
    }
    const std::string& number = op->second;
    long long result = 0;
    const char* end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data(), end, result);
    if (number.empty() || stop != end || error != std::errc() || result > INT_MAX ||
        result < INT_MIN) {
        usage_error("not a valid return value: " + number);
    }
    if (result < 0 && result >= -4095) {
        usage_error("--return " + value + ": no call returns -1 to -4095 (a failure is -1 " +
                    "with an errno): use --fail " + op->first + ":ERRNO");
    }
    if (result < 0 && op->first != "ioctl") {
        usage_error("not a valid return value: " + number);
    }
    chosen.board_conf += op->first + " return " + std::to_string(result) + "\n";
}

options parse_options(int argc, char** argv) {
    using setter = void (*)(options&, const std::string&);
    static const std::pair<std::string_view, setter> valued[] = {
        {"--board", set_board},   {"--lampstat", set_lampstat}, {"--fail", set_fail},
        {"--return", set_return}, {"--reply", set_reply},       {"--dir", set_dir},
        {"--node", set_node},     {"--close", set_closed},
    };
    options chosen;
    const std::vector<std::string> words(argv + 1, argv + argc);
    auto word = words.begin();
    for (; word != words.end() && word->rfind('-', 0) == 0; ++word) {
        if (*word == "--") {
            ++word;
            break;
        }
        if (*word == "--help") {
            chosen.help = true;
            return chosen;
        }
        if (*word == "--no-node" || *word == "--joined") {
            chosen.board_conf += *word == "--no-node" ? "node absent\n" : "";
            chosen.joined = chosen.joined || *word == "--joined";
            continue;
        }
        // The other options take a value, as the next word or after '='.
        const size_t equals = word->find('=');
        const std::string name = word->substr(0, equals);
        const auto* option = std::find_if(std::begin(valued), std::end(valued),
                                          [&name](const auto& row) { return row.first == name; });
        if (option == std::end(valued)) {
            usage_error("unknown option: " + *word);
        }
        if (equals == std::string::npos && std::next(word) == words.end()) {
            usage_error("a value is missing after " + *word);
        }
        option->second(chosen, equals != std::string::npos ? word->substr(equals + 1) : *++word);
    }
    if (word == words.end()) {
        usage_error("no program to run");
    }
    chosen.program.assign(word, words.end());
    return chosen;
}

// PROGRAM as given when it holds a '/', else the first executable file of that name on PATH.
std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        if (access(name.c_str(), F_OK) != 0) {
            throw failure(errno == ENOENT ? not_found_status : cannot_run_status,
                          system_message(name, errno));
        }
        return name;
    }
    const char* search = std::getenv("PATH");
    std::string_view rest = search != nullptr ? search : "/usr/local/bin:/usr/bin:/bin";
    bool denied = false;
    for (bool more = true; more;) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        more = colon != std::string_view::npos;
        rest.remove_prefix(more ? colon + 1 : rest.size());
        std::string path = dir.empty() ? name : dir;
        path += dir.empty() ? "" : "/" + name;
        std::error_code error;
        if (fs::is_regular_file(path, error)) {
            if (access(path.c_str(), X_OK) == 0) {
                return path;
            }
            denied = true;
        }
    }
    if (denied) {
        throw failure(cannot_run_status, system_message(name, EACCES));
    }
    throw failure(not_found_status, name + ": command not found");
}

// Refuses what the interposer cannot reach; name is PROGRAM as given, path where it was found.
void check_program(const std::string& name, const std::string& path) {
    switch (hornemu::examine_program(path)) {
    case hornemu::program_kind::static_elf:
        throw failure(cannot_run_status,
                      name + " is statically linked; the emulated board cannot reach it");
    case hornemu::program_kind::unreadable:
        throw failure(cannot_run_status,
                      system_message(name + ": cannot read it to check how it is linked", errno));
    case hornemu::program_kind::dynamic:
    case hornemu::program_kind::other:
        break;
    }
    if (const std::optional<std::string> reason = hornemu::secure_mode(path)) {
        throw failure(cannot_run_status, name + " " + *reason +
                                             "; the loader would run it in secure mode, "
                                             "ignoring LD_PRELOAD: the emulated board cannot "
                                             "reach it");
    }
}

// libhornemu.so beside this program.
std::string find_library() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        throw failure(usage_status, "cannot find myself: /proc/self/exe: " + error.message());
    }
    std::string path = (self.parent_path() / "libhornemu.so").string();
    if (access(path.c_str(), R_OK) != 0) {
        throw failure(usage_status, system_message(path, errno));
    }
    if (path.find_first_of(" :") != std::string::npos) {
        throw failure(usage_status, path + ": LD_PRELOAD cannot name a path with ' ' or ':'");
    }
    return path;
}

// A descriptor, closed when it goes.
class descriptor {
  public:
    explicit descriptor(int fd) : fd_(fd) {}
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    descriptor(descriptor&&) = delete;
    descriptor& operator=(descriptor&&) = delete;
    ~descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    [[nodiscard]] int fd() const { return fd_; }

  private:
    int fd_;
};

// A --lampstat or --reply file, whatever kind of file it is, up to file_limit bytes.
std::string read_whole(const std::string& path) {
    const descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd() < 0) {
        throw failure(usage_status, system_message(path, errno));
    }
    std::string bytes;
    std::array<char, 65536> block{};
    for (;;) {
        const ssize_t got = read(file.fd(), block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || bytes.size() + static_cast<size_t>(got) > file_limit) {
            throw failure(usage_status,
                          system_message("cannot read " + path, got < 0 ? errno : EFBIG));
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(block.data(), static_cast<size_t>(got));
    }
}

void write_whole(const fs::path& path, std::string_view bytes) {
    const descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.fd() < 0) {
        throw failure(usage_status, system_message("cannot create " + path.string(), errno));
    }
    while (!bytes.empty()) {
        const ssize_t wrote = write(file.fd(), bytes.data(), bytes.size());
        if (wrote < 0 && errno != EINTR) {
            throw failure(usage_status, system_message("cannot write " + path.string(), errno));
        }
        bytes.remove_prefix(wrote > 0 ? static_cast<size_t>(wrote) : 0);
    }
}

// The size of a regular file of the scenario, 0 when there is none.
std::uintmax_t size_of(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// The scenario directory: the one --dir names (created when missing, kept), or a fresh one
// under $TMPDIR (else /tmp), removed with everything in it when this goes, however hornemu
// ends short of being killed outright.
class scenario_dir {
  public:
    explicit scenario_dir(const std::optional<std::string>& given) {
        std::error_code error;
        if (given) {
            fresh_ = fs::create_directories(*given, error);
            if (error) {
                throw failure(usage_status, "cannot create " + *given + ": " + error.message());
            }
            path_ = fs::canonical(*given, error);
            if (error) {
                throw failure(usage_status, *given + ": " + error.message());
            }
            return;
        }
        const char* tmpdir = std::getenv("TMPDIR");
        const std::string base = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
        std::string name = (fs::canonical(base, error) / "hornemu.XXXXXX").string();
        if (error || mkdtemp(name.data()) == nullptr) {
            throw failure(usage_status, "cannot create a scenario directory in " + base + ": " +
                                            (error ? error.message() : std::strerror(errno)));
        }
        path_ = name;
        fresh_ = true;
        temporary_ = true;
    }
    scenario_dir(const scenario_dir&) = delete;
    scenario_dir& operator=(const scenario_dir&) = delete;
    scenario_dir(scenario_dir&&) = delete;
    scenario_dir& operator=(scenario_dir&&) = delete;
    ~scenario_dir() {
        if (temporary_) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }

    [[nodiscard]] const fs::path& path() const { return path_; }
    [[nodiscard]] fs::path file(const char* name) const { return path_ / name; }
    [[nodiscard]] bool fresh() const { return fresh_; }

  private:
    fs::path path_;
    bool fresh_ = false;
    bool temporary_ = false;
};

// Writes what the options say into the scenario. A scenario directory that already existed
// keeps its files unless an option says otherwise.
void prepare(const scenario_dir& dir, const options& chosen) {
    lampstat_source lampstat = chosen.lampstat;
    std::string lampstat_value = chosen.lampstat_value;
    if (lampstat == lampstat_source::unchanged && dir.fresh()) {
        lampstat = lampstat_source::text;
        lampstat_value = qtr_pn_lampstat;
    }
    if (lampstat == lampstat_source::text || lampstat == lampstat_source::file) {
        write_whole(dir.file("lampstat"), lampstat == lampstat_source::text
                                              ? lampstat_value
                                              : read_whole(lampstat_value));
    } else if (lampstat == lampstat_source::none) {
        std::error_code error;
        fs::remove(dir.file("lampstat"), error);
        if (error) {
            throw failure(usage_status, "cannot remove " + dir.file("lampstat").string() + ": " +
                                            error.message());
        }
    }
    if (!chosen.board_conf.empty()) {
        write_whole(dir.file("board.conf"), chosen.board_conf);
    }
    if (chosen.reply_file) {
        write_whole(dir.file("reply"), read_whole(*chosen.reply_file));
    }
}

// The signals hornemu passes on to the program, every one it can catch (from the start: one
// that comes before the program does is passed on as soon as it runs), and how hornemu found
// the signal settings it gives the program back.
class signal_setup {
  public:
    signal_setup() {
        // Every signal that can be caught but SIGPIPE: a gone reader of hornemu's output is not
        // the program's business.
        sigfillset(&waited_);
        sigdelset(&waited_, SIGPIPE);
        sigprocmask(SIG_BLOCK, &waited_, &original_mask_);
        // A gone reader of standard error must not end hornemu before it has cleaned up; the
        // program's end must be seen even when SIGCHLD came ignored.
        struct sigaction action {};
        action.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &action, &original_pipe_);
        action.sa_handler = SIG_DFL;
        sigaction(SIGCHLD, &action, &original_child_);
    }

    // In the program, before it is executed.
    void restore() const {
        sigaction(SIGPIPE, &original_pipe_, nullptr);
        sigaction(SIGCHLD, &original_child_, nullptr);
        sigprocmask(SIG_SETMASK, &original_mask_, nullptr);
    }

    // Waits for the program to end, passing on the signals hornemu receives, except those the
    // kernel sent the whole foreground group (^C at the terminal), which reached it already.
    // Returns its wait status.
    [[nodiscard]] int wait_for(pid_t child) const {
        for (;;) {
            siginfo_t info{};
            const int signal = sigwaitinfo(&waited_, &info);
            if (signal > 0 && signal != SIGCHLD) {
                if (info.si_code != SI_KERNEL) {
                    kill(child, signal);
                }
                continue;
            }
            int status = 0;
            const pid_t ended = waitpid(child, &status, WNOHANG);
            if (ended == child) {
                return status;
            }
            if (ended < 0 && errno != EINTR) {
                throw failure(usage_status, system_message("cannot wait for the program", errno));
            }
        }
    }

  private:
    sigset_t waited_{};
    sigset_t original_mask_{};
    struct sigaction original_pipe_ {};
    struct sigaction original_child_ {};
};

// How the program went: started (executed, not ended before), exec_error when it could not
// be executed, its process id and its wait status.
struct run_result {
    bool started = false;
    int exec_error = 0;
    pid_t pid = -1;
    int status = 0;
};

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> list(words.size() + 1, nullptr);
    std::transform(words.begin(), words.end(), list.begin(),
                   [](std::string& word) { return word.data(); });
    return list;
}

// In the child: becomes PROGRAM. Writes one byte to report just before the exec, then errno
// when the exec fails.
[[noreturn]] void become_program(const options& chosen, const std::string& path, char* const* argv,
                                 char* const* envp, pid_t parent, const signal_setup& signals,
                                 int report) {
    // The program never outlives hornemu, and neither it nor anything it starts gains
    // privileges (set-user-ID, file capabilities) that would put the loader in secure mode.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(cannot_run_status);
    }
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (chosen.joined) {
        dup2(STDOUT_FILENO, STDERR_FILENO);
    }
    for (int fd = 0; fd < 3; ++fd) {
        if (chosen.closed.at(static_cast<size_t>(fd))) {
            close(fd);
        }
    }
    signals.restore();
    constexpr char starting = 0;
    [[maybe_unused]] const ssize_t started = write(report, &starting, 1);
    execve(path.c_str(), argv, envp);
    const int error = errno;
    [[maybe_unused]] const ssize_t told = write(report, &error, sizeof error);
    _exit(cannot_run_status);
}

// Runs the program with the emulated board preloaded.
run_result run_program(const options& chosen, const std::string& path, const scenario_dir& dir,
                       const std::string& library, const signal_setup& signals) {
    std::vector<std::string> arguments = chosen.program;
    std::vector<std::string> environment;
    std::string preload = "LD_PRELOAD=" + library;
    for (char* const* entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable = *entry;
        if (variable.rfind("LD_PRELOAD=", 0) == 0 && variable.size() > sizeof "LD_PRELOAD") {
            preload += ":" + std::string(variable.substr(sizeof "LD_PRELOAD"));
        } else if (variable.rfind("HORNEMU_DIR=", 0) != 0 &&
                   variable.rfind("LD_PRELOAD=", 0) != 0) {
            environment.emplace_back(variable);
        }
    }
    environment.push_back("HORNEMU_DIR=" + dir.path().string());
    environment.push_back(preload);
    const std::vector<char*> argv = pointers(arguments);
    const std::vector<char*> envp = pointers(environment);

    std::array<int, 2> report{};
    if (pipe2(report.data(), O_CLOEXEC) != 0) {
        throw failure(usage_status, system_message("cannot create a pipe", errno));
    }
    const descriptor reader(report.at(0));
    const pid_t parent = getpid();
    run_result ran;
    ran.pid = fork();
    if (ran.pid < 0) {
        close(report.at(1));
        throw failure(usage_status, system_message("cannot start " + path, errno));
    }
    if (ran.pid == 0) {
        become_program(chosen, path, argv.data(), envp.data(), parent, signals, report.at(1));
    }
    close(report.at(1));
    ran.status = signals.wait_for(ran.pid);
    // The program is gone, and the pipe's other end with it: this read does not wait.
    std::array<char, 1 + sizeof(int)> said{};
    const ssize_t got = read(reader.fd(), said.data(), said.size());
    ran.started = got >= 1;
    if (got == static_cast<ssize_t>(said.size())) {
        std::memcpy(&ran.exec_error, said.data() + 1, sizeof ran.exec_error);
    }
    return ran;
}

// What the scenario's "loaded" says since offset: whether the program (pid) loaded the library,
// and whether some program it started ran without it. The library appends "PID" when it is
// loaded into a process, "exec PID" before that process executes another program and "stay
// PID" when the exec failed, and "spawn PID" for a process it started with posix_spawn: an exec
// or a spawn that no loading follows ran a program without the library.
struct load_record {
    bool program_loaded = false;
    bool escaped = false;
};

load_record read_loaded(const fs::path& record, std::uintmax_t offset, pid_t pid) {
    std::ifstream lines(record);
    lines.seekg(static_cast<std::streamoff>(offset));
    std::set<std::string> loaded;
    std::set<std::string> spawned;
    std::set<std::string> executing;
    load_record found;
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        const std::string kind = space == std::string::npos ? "" : line.substr(0, space);
        const std::string id = line.substr(space == std::string::npos ? 0 : space + 1);
        if (kind == "exec") {
            executing.insert(id);
        } else if (kind == "stay") {
            executing.erase(id);
        } else if (kind == "spawn") {
            spawned.insert(id);
        } else {
            found.program_loaded = found.program_loaded || id == std::to_string(pid);
            executing.erase(id);
            loaded.insert(id);
        }
    }
    found.escaped = !executing.empty() ||
                    !std::includes(loaded.begin(), loaded.end(), spawned.begin(), spawned.end());
    return found;
}

// Where a real "/dev/hornio" or "/proc/lampstat" exists, makes a mount namespace for hornemu
// and the program in which both are an empty file of the scenario's that no one may open: a
// path spelled otherwise, a cleared environment or a program without the library then finds
// no device either. Root makes the mount namespace itself, anyone else inside a user namespace
// of their own; where neither can be made the program is not run.
void hide_real_paths(const scenario_dir& dir, const std::string& name) {
    std::vector<const char*> present;
    for (const char* path : {HORNIO_NODE_PATH, HORNIO_LAMPSTAT_PATH}) {
        struct stat info {};
        if (lstat(path, &info) == 0) {
            present.push_back(path);
        }
    }
    if (present.empty()) {
        return;
    }
    const std::string refused =
        "the real " + std::string(present.front()) + " exists and cannot be hidden from " + name;
    const bool root = geteuid() == 0;
    const std::string uid = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1";
    const std::string gid = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1";
    const auto put = [](const char* file, const std::string& text) {
        const descriptor fd(open(file, O_WRONLY | O_CLOEXEC));
        return fd.fd() >= 0 &&
               write(fd.fd(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    };
    if (root ? unshare(CLONE_NEWNS) != 0 : unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        throw failure(cannot_run_status, system_message(refused + ": a namespace", errno));
    }
    // Outside root's own namespace, the caller's ids are mapped to themselves.
    if (!root && (!put("/proc/self/setgroups", "deny") || !put("/proc/self/uid_map", uid) ||
                  !put("/proc/self/gid_map", gid))) {
        throw failure(cannot_run_status, system_message(refused + ": the user namespace", errno));
    }
    const fs::path hidden = dir.file("hidden");
    write_whole(hidden, "");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        chmod(hidden.c_str(), 0) != 0) {
        throw failure(cannot_run_status, system_message(refused, errno));
    }
    for (const char* path : present) {
        if (mount(hidden.c_str(), path, nullptr, MS_BIND, nullptr) != 0) {
            throw failure(cannot_run_status, system_message(refused + ": " + path, errno));
        }
    }
}

// Tells what the scenario's "node" file gained from offset on. Behind the emulated driver it
// takes only what escaped the interposer; a regular file in the node's place takes every
// write.
void tell_node(const fs::path& node, std::uintmax_t offset) {
    const std::uintmax_t size = size_of(node);
    if (size <= offset) {
        return;
    }
    std::ifstream file(node, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::string first(4096, '\0');
    file.read(first.data(), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<size_t>(file.gcount()));
    hornemu::tell_node_file(static_cast<long long>(size - offset), first);
}

int run_hornemu(int argc, char** argv) {
    const signal_setup signals;
    const options chosen = parse_options(argc, argv);
    if (chosen.help) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    const std::string& name = chosen.program.front();
    const std::string program = find_program(name);
    check_program(name, program);
    const std::string library = find_library();
    const scenario_dir dir(chosen.dir);
    prepare(dir, chosen);
    const std::uintmax_t log_offset = size_of(dir.file("log"));
    const std::uintmax_t node_offset = size_of(dir.file("node"));
    const std::uintmax_t loaded_offset = size_of(dir.file("loaded"));
    hide_real_paths(dir, name);

    const run_result ran = run_program(chosen, program, dir, library, signals);
    if (ran.exec_error != 0) {
        throw failure(ran.exec_error == ENOENT ? not_found_status : cannot_run_status,
                      system_message(program, ran.exec_error));
    }
    const std::string short_name = fs::path(name).filename().string();
    const bool killed = WIFSIGNALED(ran.status);
    const int number = killed ? WTERMSIG(ran.status) : WEXITSTATUS(ran.status);
    const std::string end =
        killed ? "was killed by signal " + std::to_string(number) + " (" + strsignal(number) + ")"
               : "exited with status " + std::to_string(number);
    const int status = killed ? 128 + number : number;
    if (!ran.started) {
        say(short_name + " " + end + " before it started");
        return status;
    }
    std::ifstream log(dir.file("log"));
    log.seekg(static_cast<std::streamoff>(log_offset));
    const hornemu::log_summary summary = hornemu::tell_log(log);
    const load_record loads = read_loaded(dir.file("loaded"), loaded_offset, ran.pid);
    const bool proven = loads.program_loaded && !loads.escaped;
    if (!loads.program_loaded) {
        say(short_name + " ran without the emulated board: the scenario holds no record of "
                         "libhornemu.so loaded into it");
    } else if (loads.escaped) {
        say(short_name + " started a program that ran without the emulated board: the "
                         "scenario holds no record of libhornemu.so loaded into it");
    }
    if (!summary.touched) {
        say("no operation on /proc/lampstat or /dev/hornio was logged");
    } else if (!summary.reached) {
        say("/dev/hornio: no write, read or request was logged");
    }
    tell_node(dir.file("node"), node_offset);
    say(short_name + " " + end);
    return proven ? status : cannot_run_status;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run_hornemu(argc, argv);
    } catch (const failure& ended) {
        say(ended.what());
        return ended.status();
    } catch (const std::exception& error) {
        say(error.what());
        return usage_status;
    }
}
