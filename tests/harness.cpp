#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hornset_test {

namespace {

std::string read_file(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A setting given at configure time, unless the environment names another.
std::string setting(const char* name, const char* built) {
    const char* given = std::getenv(name);
    return given != nullptr ? given : built;
}

// The words of a command given at configure time joined by '|'.
std::vector<std::string> words(const std::string& joined) {
    std::vector<std::string> list;
    std::istringstream text(joined);
    for (std::string word; std::getline(text, word, '|');) {
        list.push_back(word);
    }
    return list;
}

// The runs' settings, read once: the tool, the emulated board's library, the board and C
// library in use, and the commands hornset runs under: the cross-compiling emulator (none in a
// kernel guest, which runs it natively) and the wrapper (valgrind).
const struct {
    std::string tool = setting("HORNSET_TEST_TOOL", HORNSET_TEST_TOOL);
    std::string preload = setting("HORNSET_TEST_PRELOAD", HORNSET_TEST_PRELOAD);
    bool module = setting("HORNSET_TEST_DRIVER", "") == "module";
    bool musl = setting("HORNSET_TEST_LIBC", HORNSET_TEST_MUSL != 0 ? "musl" : "glibc") == "musl";
    std::vector<std::string> emulator =
        module ? std::vector<std::string>{} : words(HORNSET_TEST_EMULATOR);
    std::vector<std::string> wrapper = words(HORNSET_TEST_WRAPPER);
} the;

// The stand-in kernel module as the board a run meets (HORNSET_TEST_DRIVER=module, in the
// kernel guests): the emulated board's scenario told to the module through its parameters, and
// the emulated board's log of a run turned into the module's record of what reached the driver.
const std::string parameters = "/sys/module/hornsim/parameters/";
const std::string linked = HORNIO_NODE_PATH ".alt";

struct module_setup {
    std::vector<std::pair<std::string, std::string>> values; // parameter and value, in order
    std::string node;    // what takes the node's place: absent, regular, fifo, link; or nothing
    std::string problem; // what the module cannot be told, or empty
};

// One of the emulated driver's directives: "open fail EIO", "read return 0", "node absent".
void add_directive(const std::string& line, module_setup* s) {
    std::istringstream words(line);
    std::string call;
    std::string verb;
    std::string value;
    words >> call >> verb >> value;
    const int error = hornemu::errno_parse(value);
    const long count = std::strtol(value.c_str(), nullptr, 10);
    const bool device_call = call == "open" || call == "write" || call == "read" || call == "ioctl";
    if (call == "node" &&
        (verb == "absent" || verb == "regular" || verb == "fifo" || verb == "link")) {
        s->node = verb;
    } else if (device_call && verb == "fail" && error > 0) {
        s->values.emplace_back(call + "_errno", std::to_string(error));
    } else if ((call == "write" || call == "read") && verb == "return" && value == "0") {
        s->values.emplace_back(call == "write" ? "write_zero" : "read_empty", "1");
    } else if (call == "read" && verb == "return" && count > HORNIO_TEXT_SIZE) {
        s->values.emplace_back("read_extra", std::to_string(count - HORNIO_TEXT_SIZE));
    } else if (call == "ioctl" && verb == "return" && count > 0) {
        s->values.emplace_back("ioctl_result", value);
    } else {
        s->problem = "the module cannot be told \"" + line + "\"";
    }
}

module_setup translate(const scenario& board) {
    module_setup s = {{{"reset", "all"}}, "", ""}; // the module as loaded, to start from
    const std::optional<std::string>& lampstat = board.lampstat;
    if (!lampstat) {
        s.values.emplace_back("proc", "0");
    } else if (lampstat->find_first_of(std::string("|\0", 2)) != std::string::npos ||
               (!lampstat->empty() && lampstat->back() != '\n')) {
        s.problem = "the module's proc file ends with a newline and holds no '|' or NUL";
    } else {
        // Its lines joined by '|'; the module drops one final newline (a lone one empties it).
        std::string text = lampstat->empty() ? "\n" : *lampstat;
        std::replace(text.begin(), text.end() - 1, '\n', '|');
        s.values.emplace_back("lampstat", text);
    }
    if (board.reply) {
        std::string reply = *board.reply;
        const size_t nul = reply.find('\0');
        if (nul != std::string::npos) {
            reply[nul] = '@';
            s.values.emplace_back("reply_nul", std::to_string(nul));
        }
        if (reply.empty() || reply.find('\0') != std::string::npos) {
            s.problem = "the module's reply is not empty and holds one NUL at most";
        }
        s.values.emplace_back("reply", reply);
    }
    std::istringstream lines(board.board_conf);
    for (std::string line; std::getline(lines, line);) {
        add_directive(line, &s);
    }
    return s;
}

// A device node of the module's numbers at this path.
void make_node(const std::string& path) {
    unsigned int major = 0;
    unsigned int minor = 0;
    char colon = 0;
    std::istringstream(read_file("/sys/class/misc/hornio/dev")) >> major >> colon >> minor;
    EXPECT_EQ(mknod(path.c_str(), S_IFCHR | 0600, makedev(major, minor)), 0)
        << std::strerror(errno);
}

// What the scenario puts in the node's place, else a node of the module's numbers.
void place_node(const std::string& node) {
    unlink(HORNIO_NODE_PATH);
    unlink(linked.c_str());
    if (node.empty()) {
        make_node(HORNIO_NODE_PATH);
    } else if (node == "link") {
        make_node(linked);
        EXPECT_EQ(symlink(linked.c_str(), HORNIO_NODE_PATH), 0) << std::strerror(errno);
    } else if (node == "fifo") {
        EXPECT_EQ(mkfifo(HORNIO_NODE_PATH, 0600), 0) << std::strerror(errno);
    } else if (node == "regular") {
        close(open(HORNIO_NODE_PATH, O_CREAT | O_WRONLY, 0600));
    }
}

// On the module: it counts the opens, writes, reads and requests that reached it and keeps the
// last of each (a write's count and text, a read's count, a request's number and word):
// "open 1 rdwr; write 1 9 "period 10"; read 0; ioctl 0".
std::string recorded(const std::string& log, const scenario& board) {
    if (!the.module) {
        return log;
    }
    std::map<std::string, std::pair<unsigned int, std::string>> seen; // calls, the last one
    const std::string node = translate(board).node;
    std::istringstream lines(node.empty() || node == "link" ? log : "");
    for (std::string line; std::getline(lines, line);) {
        const std::optional<hornemu::log_record> r = hornemu::parse_log_record(line);
        if (!r || r->path != HORNIO_NODE_PATH) {
            continue;
        }
        const auto field = [&r](const char* name) {
            return " " + std::string(hornemu::field(*r, name));
        };
        const std::string data = hornemu::hex_decode(hornemu::field(*r, "data")).value_or("");
        auto& [calls, last] = seen[r->op];
        calls++;
        last = r->op == "write"   ? field("count") + " \"" + data + "\""
               : r->op == "read"  ? field("count")
               : r->op == "ioctl" ? field("request") + field("word")
                                  : " rdwr";
    }
    std::string text;
    for (const char* call : {"open", "write", "read", "ioctl"}) {
        const auto& [calls, last] = seen[call];
        text += (text.empty() ? "" : "; ") + std::string(call) + " " + std::to_string(calls) + last;
    }
    return text + "\n";
}

// The words that run hornset with these arguments as "hornset", as getopt's messages expect: found
// by that name through PATH (under a shell limiting its descriptors, strace, stdbuf and the
// wrapper, as the run asks), or named so by the cross-compiling emulator's -0 option.
std::vector<std::string> command(const streams& given, const std::string& dir,
                                 const std::vector<std::string>& args) {
    std::vector<std::string> words;
    if (given.descriptors > 0) {
        const std::string limit = "ulimit -n " + std::to_string(given.descriptors);
        words = {"/bin/sh", "-c", limit + R"( && exec "$@")", "sh"};
    }
    if (given.traced) {
        // strace hands the preload to hornset alone: the emulated board may be
        // built for another C library than strace's.
        words.insert(words.end(),
                     {"/usr/bin/strace", "-qq", "-e", "trace=write,writev,rt_sigaction", "-o",
                      dir + "/writes", "-E", "LD_PRELOAD=" + the.preload});
    }
    if (given.mode != buffering::standard) {
        words.insert(words.end(),
                     {"/usr/bin/stdbuf", given.mode == buffering::line ? "-oL" : "-o0"});
    }
    words.insert(words.end(), the.wrapper.begin(), the.wrapper.end());
    words.insert(words.end(), the.emulator.begin(), the.emulator.end());
    if (!the.emulator.empty()) {
        words.insert(words.end(), {"-0", "hornset", the.tool});
    } else {
        words.emplace_back("hornset");
    }
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> list;
    list.reserve(words.size() + 1);
    for (std::string& word : words) {
        list.push_back(word.data());
    }
    list.push_back(nullptr);
    return list;
}

// Starts hornset with its standard streams as given: input from /dev/null,
// output and error to files in dir, "/dev/full" or a pipe whose reader has gone.
// Its SIGPIPE action is the default, whatever this process does with it.
pid_t spawn(std::vector<std::string> words, const streams& given, const std::string& dir) {
    std::vector<std::string> env = given.environment;
    env.push_back("PATH=" + the.tool.substr(0, the.tool.rfind('/')) + ":/usr/bin:/bin");
    if (!the.module) {
        // Under strace, which hands the preload on, LeakSanitizer cannot run (it needs ptrace).
        env.push_back("HORNEMU_DIR=" + dir);
        env.push_back(given.traced ? "ASAN_OPTIONS=detect_leaks=0" : "LD_PRELOAD=" + the.preload);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int pipe_ends[2] = {-1, -1};
    if (given.stdout_to == output::broken_pipe) {
        EXPECT_EQ(pipe(pipe_ends), 0) << std::strerror(errno);
        close(pipe_ends[0]);
        posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    } else {
        const std::string out =
            given.stdout_to == output::full_device ? "/dev/full" : dir + "/stdout";
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    const std::string err = dir + "/stderr";
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (given.joined) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    for (const int fd : given.closed) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaulted;
    sigemptyset(&defaulted);
    sigaddset(&defaulted, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaulted);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    // Run straight, the tool is named "hornset" but found by its path.
    const std::string program = words.front() == "hornset" ? the.tool : words.front();
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes,
                                    pointers(words).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipe_ends[1] >= 0) {
        close(pipe_ends[1]);
    }
    EXPECT_EQ(spawned, 0) << "cannot run " << program << ": " << std::strerror(spawned);
    return spawned == 0 ? pid : -1;
}

// The board for one run: the module's parameters, or the emulated board's files.
void set_up(const std::string& dir, const scenario& board) {
    if (the.module) {
        const module_setup s = translate(board);
        place_node(s.node);
        for (const auto& [name, value] : s.values) {
            std::ofstream parameter(parameters + name);
            parameter << value << std::flush;
            EXPECT_TRUE(parameter.good())
                << "cannot set the module's " << name << ": " << std::strerror(errno);
        }
        return;
    }
    const std::pair<const char*, std::optional<std::string>> files[] = {
        {"/lampstat", board.lampstat}, {"/board.conf", board.board_conf}, {"/reply", board.reply}};
    for (const auto& [file, text] : files) {
        if (text) {
            std::ofstream(dir + file, std::ios::binary) << *text;
        }
    }
}

// Every record the emulated board logged is one its account reads; strace's lines (with
// traced) hold one write to standard output (glibc's stdio writes with write, musl's with
// writev), and none to standard error or of SIGPIPE's action.
void check_records(const std::string& log, const std::string& writes, bool traced) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(hornemu::parse_log_record(line)) << "log line: " << line;
    }
    const auto count = [&writes](const std::string& call) {
        const std::regex start("(^|\n)" + call);
        return std::distance(std::sregex_iterator(writes.begin(), writes.end(), start), {});
    };
    EXPECT_EQ(traced ? count(R"(writev?\(1,)") : 1, 1) << writes;
    EXPECT_EQ(count(R"(writev?\(2,)") + count(R"(rt_sigaction\(SIGPIPE,)"), 0) << writes;
}

// Why this run cannot be set up on the board in use, or empty.
std::string cannot_set_up(const scenario& board, const streams& given) {
    // stdbuf's helper library is glibc's: it cannot be loaded into a hornset linked with musl.
    const bool stdbuf = the.emulator.empty() && !the.musl && access("/usr/bin/stdbuf", X_OK) == 0;
    if (!the.wrapper.empty() &&
        std::find(given.closed.begin(), given.closed.end(), 2) != given.closed.end()) {
        return "the wrapper hornset runs under reports on standard error";
    }
    if (given.mode != buffering::standard && !stdbuf) {
        return "standard output's buffering cannot be chosen here";
    }
    if (given.traced && (!the.emulator.empty() || !the.wrapper.empty() || on_module() ||
                         access("/usr/bin/strace", X_OK) != 0)) {
        return "strace cannot follow hornset here";
    }
    if (on_module()) {
        return translate(board).problem;
    }
    if (board.board_conf.find("node link") != std::string::npos) {
        return "the emulated board has no device to link its node's path to";
    }
    return given.descriptors > 0 ? "the emulated board needs descriptors of its own" : "";
}

// One run of a case with these streams.
void check(const run_case& c, const streams& given) {
    const outcome result = run_hornset(c.board, c.args, given);
    EXPECT_EQ(result.out, c.out) << "standard output";
    EXPECT_EQ(result.err, c.err) << "standard error";
    EXPECT_EQ(result.status, c.status.value_or(result.status)) << "exit status";
    EXPECT_EQ(result.log, c.log ? recorded(*c.log, c.board) : result.log)
        << "what reached the board";
}

} // namespace

bool on_module() {
    return the.module;
}

outcome run_hornset(const scenario& board, const std::vector<std::string>& args,
                    const streams& given) {
    std::string dir = (std::filesystem::temp_directory_path() / "hornset-test-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return {};
    }
    set_up(dir, board);
    const pid_t pid = spawn(command(given, dir, args), given, dir);
    outcome result;
    int wait_status = 0;
    if (pid > 0 && waitpid(pid, &wait_status, 0) == pid) {
        EXPECT_TRUE(WIFEXITED(wait_status))
            << "hornset was killed by signal " << WTERMSIG(wait_status);
        result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    }
    result.out = read_file(dir + "/stdout"); // none unless captured
    result.err = read_file(dir + "/stderr");
    result.log = read_file(on_module() ? parameters + "seen" : dir + "/log");
    check_records(on_module() ? "" : result.log, read_file(dir + "/writes"), given.traced);
    const std::string node = on_module() ? HORNIO_NODE_PATH : dir + "/node";
    EXPECT_EQ(std::filesystem::is_regular_file(node) ? read_file(node) : "", "")
        << "what reached a regular file in the node's place";
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}

// Every case runs again with POSIXLY_CORRECT set, which must change nothing (glibc's getopt
// would stop at the first word that is not an option); not under a wrapper (valgrind), which
// checks memory, nor on the module, whose runs' C libraries the emulated board runs too.
TEST_P(RunCase, Behaves) {
    const run_case& c = GetParam();
    const std::string skip = c.skip.empty() ? cannot_set_up(c.board, c.given) : c.skip;
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    check(c, c.given);
    if (the.wrapper.empty() && !on_module()) {
        SCOPED_TRACE("POSIXLY_CORRECT=1");
        streams given = c.given;
        given.environment.emplace_back("POSIXLY_CORRECT=1");
        check(c, given);
    }
}

namespace c_library {

std::string complaint(char option, bool missing) {
    const char* glibc = missing ? "option requires an argument -- '" : "invalid option -- '";
    const char* musl = missing ? "option requires an argument: " : "unrecognized option: ";
    return "hornset: " + std::string(the.musl ? musl : glibc) + option + (the.musl ? "\n" : "'\n");
}

// musl's reasons where they are not glibc's, which the suite itself is linked with.
const std::pair<int, const char*> musl_reasons[] = {
    {0, "No error information"}, {EBUSY, "Resource busy"},
    {EIO, "I/O error"},          {EMFILE, "No file descriptors available"},
    {ENOTTY, "Not a tty"},       {ETIMEDOUT, "Operation timed out"},
};

std::string reason(int error) {
    for (const auto& [number, text] : musl_reasons) {
        if (the.musl && number == error) {
            return text + std::string("\n");
        }
    }
    return std::strerror(error) + std::string("\n");
}

} // namespace c_library

} // namespace hornset_test
