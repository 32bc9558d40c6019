#include "harness.h"

#include "emulator/logrecord.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hornset_test {

const std::string qtr_pn_lampstat = "leds: status=off error=off\nmodel: QTR-PN\n";
const std::string request_lampstat = "leds: status=off error=off\nmodel: RQ-200\n";
const std::string idle_reply = "status: idle\n";

scenario qtr_pn(const std::string& board_conf) {
    return {qtr_pn_lampstat, board_conf, {}};
}
scenario request_board(const std::string& board_conf) {
    return {request_lampstat, board_conf, {}};
}
scenario no_lampstat(const std::string& board_conf) {
    return {std::nullopt, board_conf, {}};
}
scenario with_lampstat(const std::string& lampstat) {
    return {lampstat, "", {}};
}
scenario with_reply(const std::string& reply) {
    return {qtr_pn_lampstat, "", reply};
}

namespace {

void write_file(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    ASSERT_TRUE(file.good()) << "cannot write " << path;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The words of a command given at configure time (joined by '|'): the
// cross-compiling emulator, or the wrapper hornset runs under (valgrind).
std::vector<std::string> prefix_words(const char* words) {
    std::vector<std::string> prefix;
    std::stringstream list(words);
    for (std::string word; std::getline(list, word, '|');) {
        if (!word.empty()) {
            prefix.push_back(word);
        }
    }
    return prefix;
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

} // namespace

outcome run_hornset(const scenario& board, const std::vector<std::string>& args, output stdout_to,
                    const std::vector<std::string>& environment) {
    streams given;
    given.stdout_to = stdout_to;
    given.environment = environment;
    return run_hornset(board, args, given);
}

bool runs_under_wrapper() {
    return !prefix_words(HORNSET_TEST_WRAPPER).empty();
}

bool writes_can_be_traced() {
    return prefix_words(HORNSET_TEST_EMULATOR).empty() && !runs_under_wrapper() &&
           access("/usr/bin/strace", X_OK) == 0;
}

// stdbuf's helper library is glibc's: it cannot be loaded into a hornset linked with musl.
bool buffering_can_be_chosen() {
    return prefix_words(HORNSET_TEST_EMULATOR).empty() && HORNSET_TEST_MUSL == 0 &&
           access("/usr/bin/stdbuf", X_OK) == 0;
}

outcome run_hornset(const scenario& board, const std::vector<std::string>& args,
                    const streams& given) {
    const output stdout_to = given.stdout_to;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir_template = std::string(tmp != nullptr ? tmp : "/tmp") + "/hornset-test-XXXXXX";
    if (mkdtemp(dir_template.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return {};
    }
    const std::string dir = dir_template;
    if (board.lampstat) {
        write_file(dir + "/lampstat", *board.lampstat);
    }
    if (!board.board_conf.empty()) {
        write_file(dir + "/board.conf", board.board_conf);
    }
    if (board.reply) {
        write_file(dir + "/reply", *board.reply);
    }

    // The tool is always called "hornset": getopt's messages name it. Under a
    // cross-compiling emulator (qemu-user), its -0 option sets the name.
    // A wrapper finds the tool by that name through PATH (the tool's own
    // directory first), which also gives it to the tool as argv[0].
    std::vector<std::string> words = prefix_words(HORNSET_TEST_EMULATOR);
    const bool emulated = !words.empty();
    std::vector<std::string> wrapper = prefix_words(HORNSET_TEST_WRAPPER);
    if (given.mode != buffering::standard) {
        // stdbuf runs whatever comes after it with standard output's buffering set.
        wrapper.insert(wrapper.begin(),
                       {"/usr/bin/stdbuf", given.mode == buffering::line ? "-oL" : "-o0"});
    }
    std::string env_preload = std::string("LD_PRELOAD=") + HORNSET_TEST_PRELOAD;
    if (given.traced) {
        // strace hands the preload to hornset alone: the emulated board may be
        // built for another C library than strace's.
        wrapper.insert(wrapper.begin(),
                       {"/usr/bin/strace", "-qq", "-e", "trace=write,writev,rt_sigaction", "-o",
                        dir + "/writes", "-E", env_preload});
    }
    const bool wrapped = !emulated && !wrapper.empty();
    if (emulated) {
        words.insert(words.end(), {"-0", "hornset", HORNSET_TEST_TOOL});
    } else {
        words.insert(words.end(), wrapper.begin(), wrapper.end());
        words.push_back("hornset");
    }
    words.insert(words.end(), args.begin(), args.end());
    const std::string program =
        emulated || wrapped ? words.front() : std::string(HORNSET_TEST_TOOL);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    std::string env_dir = "HORNEMU_DIR=" + dir;
    const std::string tool = HORNSET_TEST_TOOL;
    std::string env_path = "PATH=/usr/bin:/bin";
    if (wrapped) {
        env_path = "PATH=" + tool.substr(0, tool.rfind('/')) + ":/usr/bin:/bin";
    }
    std::vector<std::string> env_entries = given.environment;
    if (given.traced) {
        // LeakSanitizer cannot run under ptrace; a sanitized hornset under strace goes without it.
        env_entries.emplace_back("ASAN_OPTIONS=detect_leaks=0");
    }
    std::vector<char*> envp = {env_dir.data(), env_path.data()};
    if (!given.traced) {
        envp.push_back(env_preload.data());
    }
    for (std::string& entry : env_entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const std::string out_path =
        stdout_to == output::full_device ? std::string("/dev/full") : dir + "/stdout";
    const std::string err_path = dir + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int pipe_ends[2] = {-1, -1};
    if (stdout_to == output::broken_pipe) {
        if (pipe(pipe_ends) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
        }
        close(pipe_ends[0]);
        posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (given.joined) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    for (const int fd : given.closed) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    // hornset starts with SIGPIPE's default action, whatever this process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaulted;
    sigemptyset(&defaulted);
    sigaddset(&defaulted, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaulted);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipe_ends[1] >= 0) {
        close(pipe_ends[1]);
    }

    outcome result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << program << ": " << std::strerror(spawned);
    } else {
        int wait_status = 0;
        waitpid(pid, &wait_status, 0);
        if (WIFEXITED(wait_status)) {
            result.status = WEXITSTATUS(wait_status);
        } else {
            ADD_FAILURE() << "hornset was killed by signal " << WTERMSIG(wait_status);
        }
        if (stdout_to == output::captured) {
            result.out = read_file(out_path);
        }
        result.err = read_file(err_path);
        result.log = read_file(dir + "/log");
        result.writes = read_file(dir + "/writes");
        struct stat node {};
        if (stat((dir + "/node").c_str(), &node) == 0 && S_ISREG(node.st_mode)) {
            result.node = read_file(dir + "/node");
        }
        // Every record the run logged is one hornemu's account reads.
        std::istringstream lines(result.log);
        for (std::string line; std::getline(lines, line);) {
            const std::optional<hornemu::log_record> record = hornemu::parse_log_record(line);
            EXPECT_TRUE(record && hornemu::to_string(*record) == line) << "log line: " << line;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}

std::ostream& operator<<(std::ostream& stream, const outcome& result) {
    return stream << "status " << result.status
                  << "\nstdout: " << testing::PrintToString(result.out)
                  << "\nstderr: " << testing::PrintToString(result.err) << "\nlog:\n"
                  << result.log << "node's file: " << testing::PrintToString(result.node);
}

void PrintTo(const run_case& c, std::ostream* stream) {
    *stream << c.name;
}

std::string case_name(const testing::TestParamInfo<run_case>& info) {
    return info.param.name;
}

// Every case runs a second time with POSIXLY_CORRECT set, which must change
// nothing (glibc's getopt would then stop at the first word that is not an
// option). Under a wrapper (valgrind), which checks memory, not behaviour, the
// second run is left out.
TEST_P(RunCase, Behaves) {
    const run_case& c = GetParam();
    if (!c.skip.empty()) {
        GTEST_SKIP() << c.skip;
    }
    std::vector<std::vector<std::string>> environments = {{}};
    if (!runs_under_wrapper()) {
        environments.push_back({"POSIXLY_CORRECT=1"});
    }
    for (const std::vector<std::string>& environment : environments) {
        SCOPED_TRACE(environment.empty() ? "no POSIXLY_CORRECT" : environment.front());
        const outcome result = run_hornset(c.board, c.args, output::captured, environment);
        EXPECT_EQ(result.out, c.out) << "standard output";
        EXPECT_EQ(result.err, c.err) << "standard error";
        EXPECT_EQ(result.status, c.status) << "exit status";
        EXPECT_EQ(result.log, c.log) << "what reached the emulated board";
        EXPECT_EQ(result.node, "") << "what reached the node past the driver";
    }
}
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RunCase);

namespace c_library {

constexpr bool musl = HORNSET_TEST_MUSL != 0;
const std::string name = musl ? "musl" : "glibc";

std::string invalid_option(char option) {
    return musl ? std::string("hornset: unrecognized option: ") + option + "\n"
                : std::string("hornset: invalid option -- '") + option + "'\n";
}

std::string missing_value(char option) {
    return musl ? std::string("hornset: option requires an argument: ") + option + "\n"
                : std::string("hornset: option requires an argument -- '") + option + "'\n";
}

std::string reason(int error) {
    struct texts {
        int error;
        const char* glibc;
        const char* musl;
    };
    static const texts table[] = {
        {0, "Success", "No error information"},
        {EACCES, "Permission denied", "Permission denied"},
        {EBADF, "Bad file descriptor", "Bad file descriptor"},
        {EBUSY, "Device or resource busy", "Resource busy"},
        {EINTR, "Interrupted system call", "Interrupted system call"},
        {EINVAL, "Invalid argument", "Invalid argument"},
        {EIO, "Input/output error", "I/O error"},
        {ENODEV, "No such device", "No such device"},
        {ENOENT, "No such file or directory", "No such file or directory"},
        {ENOSPC, "No space left on device", "No space left on device"},
        {ENOTTY, "Inappropriate ioctl for device", "Not a tty"},
    };
    for (const texts& row : table) {
        if (row.error == error) {
            return musl ? row.musl : row.glibc;
        }
    }
    ADD_FAILURE() << "the harness has no " << name << " text for errno " << error;
    return "";
}

} // namespace c_library

namespace logged {
namespace {

const std::string node = "/dev/hornio";
const std::string proc = "/proc/lampstat";

std::string line(const std::string& op, const std::string& path,
                 std::vector<hornemu::log_field> fields, std::optional<std::string> result,
                 std::vector<hornemu::log_field> after = {}) {
    return hornemu::to_string({op, path, std::move(fields), std::move(result), std::move(after)}) +
           "\n";
}

} // namespace

const std::string proc_read =
    line("open", proc, {{"mode", "r"}}, "ok") + line("close", proc, {}, {});
const std::string proc_missing = line("open", proc, {{"mode", "r"}}, "ENOENT");
const std::string node_open = line("open", node, {{"flags", "O_RDWR"}}, "ok");
const std::string node_close = line("close", node, {}, "0");

std::string node_open_failed(const std::string& error_name) {
    return line("open", node, {{"flags", "O_RDWR"}}, error_name);
}

std::string write(const std::string& bytes, const std::string& result) {
    const std::string count = std::to_string(bytes.size());
    return line("write", node, {{"count", count}, {"data", hornemu::hex_encode(bytes)}}, result);
}

std::string read_returned(const std::string& bytes, long result) {
    const std::string count = result < 0 ? std::to_string(bytes.size()) : std::to_string(result);
    return line("read", node, {{"count", "2000"}}, count, {{"data", hornemu::hex_encode(bytes)}});
}

std::string read_failed(const std::string& result) {
    return line("read", node, {{"count", "2000"}}, result);
}

std::string request(uint32_t number, uint32_t word, const std::string& result) {
    return line("ioctl", node, {{"request", hex32(number)}, {"word", hex32(word)}}, result);
}

std::string get_request(uint32_t word_out) {
    return line("ioctl", node, {{"request", hex32(get_request_number)}, {"word", hex32(0)}}, "0",
                {{"word", hex32(word_out)}});
}

} // namespace logged

} // namespace hornset_test
