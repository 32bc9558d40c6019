// hornemu: runs a program on the emulated board (libhornemu.so, preloaded) and then tells on
// standard error, in plain words, what reached "/proc/lampstat" and the buzzer driver.

#include "errnames.h"
#include "hornio.h"
#include "logrecord.h"

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
#include <map>
#include <optional>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int setup_status = 125;
constexpr int cannot_run_status = 126;

constexpr char usage_line[] = "Usage: hornemu [OPTIONS] -- PROGRAM [ARGS...]";
constexpr char usage_text[] =
    "Runs PROGRAM on an emulated board, then tells on standard error what reached\n"
    "/proc/lampstat and the buzzer driver behind /dev/hornio.\n"
    "\n"
    "  --board qtr-pn    /proc/lampstat names a QTR-PN board: text commands (default)\n"
    "  --board request   /proc/lampstat names an RQ-200 board: the request interface\n"
    "  --board none      there is no /proc/lampstat\n"
    "  --fail OP:ERRNO   OP (lampstat, open, write, read, ioctl) fails with ERRNO (EIO, 5)\n"
    "  --return OP:N     OP (write, read, ioctl) returns N without the driver acting\n"
    "  --reply FILE      the driver's status reply is FILE's content\n"
    "  --dir DIR         keep the scenario, and the driver's memory, in DIR\n"
    "  --help            show this help and exit\n"
    "\n"
    "Exit status: PROGRAM's own, 128+N when a signal N killed it; 125 for an error of\n"
    "hornemu itself, 126 when PROGRAM cannot be run or ran without the emulated board,\n"
    "127 when it is not found.\n";

// What ends hornemu with a message, and its exit status.
struct failure {
    int status;
    std::string message;
};

[[noreturn]] void usage_error(const std::string& message) {
    throw failure{setup_status, message + "\n" + usage_line};
}

// "what: the system's message for error".
std::string with_reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

void say(const std::string& line) {
    std::fputs(("hornemu: " + line + "\n").c_str(), stderr);
}

fs::path scenario;      // the scenario directory
bool temporary = false; // made by hornemu, removed when it ends
sigset_t waited;        // the signals passed on to the program

struct options {
    std::map<std::string, std::string> last; // the last value given of each option
    std::string board_conf;                  // --fail and --return as directives
    std::vector<std::string> program;
};

// --fail OP:ERRNO becomes "OP fail ERRNO", --return OP:N "OP return N". A result no call can
// have is refused: a failure is -1 with an errno, and the kernel's -1 to -4095 reach a program
// as -1 and an errno.
std::string fault(const std::string& value, bool fail) {
    const size_t colon = value.find(':');
    const std::string op = value.substr(0, colon);
    const std::string given = colon != std::string::npos ? value.substr(colon + 1) : "";
    const std::string ops = fail ? "lampstat, open, write, read, ioctl" : "write, read, ioctl";
    if (colon == std::string::npos ||
        (", " + ops + ",").find(", " + op + ",") == std::string::npos) {
        usage_error(std::string(fail ? "--fail wants OP:ERRNO" : "--return wants OP:N") +
                    " with OP one of " + ops + ": " + value);
    }
    if (fail) {
        if (hornemu::errno_parse(given) == 0) {
            usage_error("unknown errno: " + given);
        }
        return op + " fail " + given + "\n";
    }
    long long result = 0;
    const char* end = given.data() + given.size();
    const auto [stop, error] = std::from_chars(given.data(), end, result);
    if (result < 0 && result >= -4095 && stop == end) {
        usage_error("--return " + value + ": no call returns -1 to -4095 (a failure is -1 " +
                    "with an errno): use --fail " + op + ":ERRNO");
    }
    if (given.empty() || stop != end || error != std::errc() || result > INT_MAX ||
        result < (op == "ioctl" ? INT_MIN : 0)) {
        usage_error("not a valid return value: " + given);
    }
    return op + " return " + std::to_string(result) + "\n";
}

// The options, each taking a value.
constexpr std::string_view option_names[] = {"--board", "--fail", "--return", "--reply", "--dir"};

void take(options& chosen, const std::string& name, const std::string& value) {
    const bool board = name == "--board";
    if (value.empty() || (board && value != "qtr-pn" && value != "request" && value != "none")) {
        usage_error(name + " wants " + (board ? "qtr-pn request none" : "a value") + ": " + value);
    }
    if (name == "--fail" || name == "--return") {
        chosen.board_conf += fault(value, name == "--fail");
    }
    chosen.last[name] = value;
}

// The options, or nothing for --help.
std::optional<options> parse_options(int argc, char** argv) {
    options chosen;
    const std::vector<std::string> words(argv + 1, argv + argc);
    auto word = words.begin();
    for (; word != words.end() && word->rfind('-', 0) == 0 && *word != "--"; ++word) {
        if (*word == "--help") {
            return std::nullopt;
        }
        // An option's value is the next word, or follows '='.
        const size_t equals = word->find('=');
        const std::string name = word->substr(0, equals);
        const bool known = std::find(std::begin(option_names), std::end(option_names), name) !=
                           std::end(option_names);
        if (!known || (equals == std::string::npos && word + 1 == words.end())) {
            usage_error((known ? "a value is missing after " : "unknown option: ") + *word);
        }
        take(chosen, name, equals != std::string::npos ? word->substr(equals + 1) : *++word);
    }
    word += word != words.end() && *word == "--" ? 1 : 0;
    if (word == words.end()) {
        usage_error("no program to run");
    }
    chosen.program.assign(word, words.end());
    return chosen;
}

void write_whole(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!(file << bytes) || !file.flush()) {
        throw failure{setup_status, with_reason("cannot write " + path.string(), errno)};
    }
}

// A --reply file, whatever kind of file it is, up to 1 MiB. (Every signal is blocked: no
// read is interrupted.)
std::string read_whole(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string bytes;
    std::array<char, 65536> block{};
    ssize_t got = fd < 0 ? -1 : 1;
    while (got > 0 && bytes.size() <= size_t{1} << 20U) {
        got = read(fd, block.data(), block.size());
        bytes.append(block.data(), got > 0 ? static_cast<size_t>(got) : 0);
    }
    const int error = got < 0 ? errno : EFBIG;
    if (fd >= 0) {
        close(fd);
    }
    if (got != 0) {
        throw failure{setup_status, with_reason(fd < 0 ? path : "cannot read " + path, error)};
    }
    return bytes;
}

// The size of a regular file of the scenario, 0 when there is none.
std::uintmax_t size_of(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// Makes the scenario directory, the one --dir names (created when missing, kept) or a fresh
// one under $TMPDIR (else /tmp), and writes what the options say into it. A scenario directory
// that already existed keeps its files unless an option says otherwise.
void prepare(const options& chosen) {
    std::error_code error;
    const char* tmpdir = std::getenv("TMPDIR");
    const bool kept = chosen.last.count("--dir") > 0;
    std::string name = kept
                           ? chosen.last.at("--dir")
                           : std::string(tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp") +
                                 "/hornemu.XXXXXX";
    const bool fresh = kept ? fs::create_directories(name, error) : mkdtemp(name.data()) != nullptr;
    if (error || (!fresh && !kept)) {
        throw failure{setup_status, "cannot create " + name + ": " +
                                        (error ? error.message() : std::strerror(errno))};
    }
    scenario = fs::absolute(name);
    temporary = !kept;
    const auto given = chosen.last.find("--board");
    const std::string board = given != chosen.last.end() ? given->second : fresh ? "qtr-pn" : "";
    if (board == "none") {
        fs::remove(scenario / "lampstat"); // throws when it cannot
    }
    if (board == "qtr-pn" || board == "request") {
        write_whole(scenario / "lampstat",
                    "leds: status=off error=off\nmodel: " +
                        std::string(board == "request" ? "RQ-200" : "QTR-PN") + "\n");
    }
    if (!chosen.board_conf.empty()) {
        write_whole(scenario / "board.conf", chosen.board_conf);
    }
    if (chosen.last.count("--reply") > 0) {
        write_whole(scenario / "reply", read_whole(chosen.last.at("--reply")));
    }
}

// The signal settings hornemu found, which the program gets.
sigset_t original_mask;
struct sigaction original_pipe;
struct sigaction original_child;

// The signals hornemu passes on to the program: all it can catch but SIGPIPE (a gone reader of
// hornemu's output is not the program's business, and must not end hornemu before it cleans
// up), blocked from the start so that one coming before the program runs is passed on as soon
// as it does. SIGCHLD is set to its default so that the program's end is seen.
void block_signals() {
    sigfillset(&waited);
    sigdelset(&waited, SIGPIPE);
    sigprocmask(SIG_BLOCK, &waited, &original_mask);
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, &original_pipe);
    action.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &action, &original_child);
}

// Waits for the program to end, passing on the signals hornemu receives but those the kernel
// sent the whole foreground group (^C at the terminal), which reached it already.
int wait_for(pid_t child) {
    for (;;) {
        siginfo_t info{};
        const int signal = sigwaitinfo(&waited, &info);
        if (signal > 0 && signal != SIGCHLD && info.si_code != SI_KERNEL) {
            kill(child, signal);
        }
        int status = 0;
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) {
            return status;
        }
        if (ended < 0 && errno != EINTR) {
            throw failure{setup_status, with_reason("cannot wait for the program", errno)};
        }
    }
}

// Runs the program with the emulated board preloaded: its process id and wait status. In the
// child, the exec's errno goes through report when it fails.
std::pair<pid_t, int> run_program(const options& chosen) {
    std::error_code error;
    const fs::path library =
        fs::read_symlink("/proc/self/exe", error).parent_path() / "libhornemu.so";
    if (error || access(library.c_str(), R_OK) != 0) {
        throw failure{setup_status, with_reason(library.string(), error ? ENOENT : errno)};
    }
    std::vector<std::string> arguments = chosen.program;
    std::vector<char*> argv(arguments.size() + 1, nullptr);
    std::transform(arguments.begin(), arguments.end(), argv.begin(),
                   [](std::string& word) { return word.data(); });
    const char* preload = std::getenv("LD_PRELOAD"); // kept, behind the emulated board
    const std::string preloads =
        library.string() +
        (preload != nullptr && *preload != '\0' ? ":" + std::string(preload) : "");
    std::array<int, 2> report{};
    const pid_t parent = getpid();
    const pid_t pid = pipe2(report.data(), O_CLOEXEC) == 0 ? fork() : -1;
    if (pid < 0) {
        throw failure{setup_status, with_reason("cannot start " + chosen.program[0], errno)};
    }
    if (pid == 0) {
        // The program never outlives hornemu, and neither it nor anything it starts gains
        // privileges (set-user-ID, file capabilities) that would make the loader shed the
        // library.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        sigaction(SIGPIPE, &original_pipe, nullptr);
        sigaction(SIGCHLD, &original_child, nullptr);
        sigprocmask(SIG_SETMASK, &original_mask, nullptr);
        if (getppid() == parent && setenv("HORNEMU_DIR", scenario.c_str(), 1) == 0 &&
            setenv("LD_PRELOAD", preloads.c_str(), 1) == 0) {
            execvp(argv[0], argv.data());
        }
        const int failed = getppid() == parent ? errno : 0;
        [[maybe_unused]] const ssize_t reported = write(report[1], &failed, sizeof failed);
        _exit(cannot_run_status);
    }
    close(report[1]);
    const int status = wait_for(pid);
    int exec_error = 0;
    // The program is gone, and the pipe's other end with it: this read does not wait.
    const bool failed = read(report[0], &exec_error, sizeof exec_error) == sizeof exec_error;
    close(report[0]);
    if (failed && exec_error != 0) {
        throw failure{exec_error == ENOENT ? 127 : cannot_run_status,
                      with_reason(chosen.program[0], exec_error)};
    }
    return {pid, status};
}

// Whether "loaded", from offset on, shows that the program (pid), and every program of the run,
// had the library. It gets "PID" when the library is loaded into a process, "exec PID" before it
// executes another program and "stay PID" when that failed, and "spawn PID" for a process
// started with posix_spawn: an exec or a spawn that no loading follows ran without the library.
std::pair<bool, bool> proof_of_loading(const fs::path& record, std::uintmax_t offset, pid_t pid) {
    std::ifstream lines(record);
    lines.seekg(static_cast<std::streamoff>(offset));
    std::set<std::string> loaded; // the loadings and the failed execs
    std::set<std::string> execs;  // the execs no loading followed yet
    std::set<std::string> spawns;
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        const std::string kind = space == std::string::npos ? "" : line.substr(0, space);
        const std::string id = line.substr(space + 1); // npos + 1 == 0: the whole line
        if (kind.empty() || kind == "stay") {
            execs.erase(id);
        }
        (kind == "exec" ? execs : kind == "spawn" ? spawns : loaded).insert(id);
    }
    const bool program = loaded.count(std::to_string(pid)) > 0;
    return {program, program && execs.empty() &&
                         std::includes(loaded.begin(), loaded.end(), spawns.begin(), spawns.end())};
}

// Where a real "/dev/hornio" or "/proc/lampstat" exists, makes a mount namespace for hornemu and
// the program in which each is an empty file of the scenario's that no one may open: a path
// spelled otherwise, a cleared environment or a program without the library then finds no
// device either. Root makes the mount namespace itself, anyone else inside a user namespace of
// their own; where neither can be made the program is not run.
void hide_real_paths(const std::string& name) {
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
    if (unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        throw failure{cannot_run_status, with_reason(refused + ": a namespace", errno)};
    }
    // Outside root's own namespace, the caller's ids are mapped to themselves.
    const std::string uid = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1\n";
    const std::string gid = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1\n";
    const std::pair<const char*, std::string> maps[] = {
        {"/proc/self/setgroups", "deny"}, {"/proc/self/uid_map", uid}, {"/proc/self/gid_map", gid}};
    for (const auto& [file, text] : maps) {
        if (!root && !(std::ofstream(file) << text).flush()) {
            throw failure{cannot_run_status, with_reason(refused + ": the user namespace", errno)};
        }
    }
    const fs::path hidden = scenario / "hidden";
    write_whole(hidden, "");
    bool hid = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               chmod(hidden.c_str(), 0) == 0;
    for (const char* path : present) {
        hid = hid && mount(hidden.c_str(), path, nullptr, MS_BIND, nullptr) == 0;
    }
    if (!hid) {
        throw failure{cannot_run_status, with_reason(refused, errno)};
    }
}

// One line of the log as the account tells it: the bytes of its data= in quotes.
std::string told(const std::string& line) {
    const size_t data = line.find(" data=");
    if (data == std::string::npos) {
        return line;
    }
    const size_t end = std::min(line.find(' ', data + 1), line.size());
    const std::string digits = line.substr(data + 6, end - data - 6);
    return line.substr(0, data + 6) +
           hornemu::in_quotes(hornemu::hex_decode(digits).value_or("?")) + line.substr(end);
}

// What the log and the node's file gained from these offsets on, told line by line.
void tell(std::uintmax_t log_offset, std::uintmax_t node_offset) {
    // The log holds what the program received and no more: the account tells only that.
    std::ifstream log(scenario / "log");
    log.seekg(static_cast<std::streamoff>(log_offset));
    bool touched = false;
    bool reached = false;
    for (std::string line; std::getline(log, line); touched = true) {
        say(told(line));
        reached = reached || line.rfind("write ", 0) == 0 || line.rfind("read ", 0) == 0 ||
                  line.rfind("ioctl ", 0) == 0;
    }
    if (!touched || !reached) {
        say(touched ? "/dev/hornio: no write, read or request was logged"
                    : "no operation on /proc/lampstat or /dev/hornio was logged");
    }
    // Behind the emulated driver the node's file takes only what escaped the interposer; a
    // regular file in the node's place takes every write.
    if (size_of(scenario / "node") > node_offset) {
        std::ifstream node(scenario / "node", std::ios::binary);
        node.seekg(static_cast<std::streamoff>(node_offset));
        const std::string landed(std::istreambuf_iterator<char>(node), {});
        say("/dev/hornio: " + std::to_string(landed.size()) + " bytes landed in the node's file: " +
            hornemu::in_quotes(landed.substr(0, 4096)) + (landed.size() > 4096 ? "..." : ""));
    }
}

int run_hornemu(int argc, char** argv) {
    block_signals();
    const std::optional<options> chosen = parse_options(argc, argv);
    if (!chosen) {
        std::printf("%s\n%s", usage_line, usage_text);
        return 0;
    }
    const std::string name = fs::path(chosen->program[0]).filename().string();
    prepare(*chosen);
    const std::uintmax_t log_offset = size_of(scenario / "log");
    const std::uintmax_t node_offset = size_of(scenario / "node");
    const std::uintmax_t loaded_offset = size_of(scenario / "loaded");
    hide_real_paths(name);
    const auto [pid, status] = run_program(*chosen);
    const auto [program, all] = proof_of_loading(scenario / "loaded", loaded_offset, pid);
    if (!all) {
        say(name + (program ? " started a program that" : "") +
            " ran without the emulated board: the scenario holds no record of libhornemu.so "
            "loaded into it");
    }
    tell(log_offset, node_offset);
    const bool killed = WIFSIGNALED(status);
    const int number = killed ? WTERMSIG(status) : WEXITSTATUS(status);
    say(name +
        (killed ? " was killed by signal " + std::to_string(number) + " (" + strsignal(number) + ")"
                : " exited with status " + std::to_string(number)));
    return !all ? cannot_run_status : killed ? 128 + number : number;
}

} // namespace

// The temporary scenario directory goes however hornemu ends short of being killed outright.
int main(int argc, char** argv) {
    int status = setup_status;
    try {
        status = run_hornemu(argc, argv);
    } catch (const failure& ended) {
        say(ended.message);
        status = ended.status;
    } catch (const std::exception& error) {
        say(error.what());
    }
    std::error_code ignored;
    if (temporary) {
        fs::remove_all(scenario, ignored);
    }
    return status;
}
