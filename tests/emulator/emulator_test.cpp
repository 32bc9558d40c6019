// Tests of the emulated board: libhornemu.so under a probe program that performs the
// operations named on its command line, the driver model behind it, and the hornemu runner.
#include "driver_model/hornio_model.h"
#include "hornio.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string temporary_dir() {
    std::string name = (fs::temp_directory_path() / "emutest.XXXXXX").string();
    EXPECT_NE(mkdtemp(name.data()), nullptr);
    return name;
}

std::string printed(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value); // NOLINT(cert-err33-c): 16 bytes hold it
    return text;
}

const std::string set_request = printed("0x%08x", HORNIO_SET_REQUEST);
const std::string get_request = printed("0x%08x", HORNIO_GET_REQUEST);
// A request that is not the driver's, for a file reached for real: a terminal request of the
// target's, taking an int, which qemu-user hands to the kernel on every target (a number it
// does not know, such as 0x5401 on PowerPC, it answers with ENOSYS) and which the kernel
// refuses on a file that is not a terminal.
const std::string terminal_request = printed("0x%08x", TIOCGPGRP);

// Under a cross build, programs of the target run through its emulator (qemu-user).
strings emulator_prefix() {
    strings prefix;
    std::stringstream list(EMU_TEST_EMULATOR);
    for (std::string word; std::getline(list, word, '|');) {
        if (!word.empty()) {
            prefix.push_back(word);
        }
    }
    return prefix;
}

struct result {
    std::string out;
    std::string err;
    int status = -1; // 128 + N when killed by signal N
};

// Runs argv with exactly env as its environment, standard input from /dev/null.
result run(strings argv, strings env) {
    const std::string capture = temporary_dir();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (capture + "/out").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (capture + "/err").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    const auto pointers = [](strings& words) {
        std::vector<char*> list(words.size() + 1, nullptr);
        std::transform(words.begin(), words.end(), list.begin(),
                       [](auto& word) { return word.data(); });
        return list;
    };
    pid_t pid = 0;
    int status = 0;
    result outcome;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers(argv).data(),
                    pointers(env).data()) == 0 &&
        waitpid(pid, &status, 0) == pid) {
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.out = read_file(capture + "/out");
    outcome.err = read_file(capture + "/err");
    fs::remove_all(capture);
    return outcome;
}

// Each test's files under a temporary directory of its own, removed at its end.
class Emulator : public testing::Test {
  protected:
    void TearDown() override { fs::remove_all(tmp_); }
    [[nodiscard]] const std::string& tmp() const { return tmp_; }
    // A fresh scenario directory with this board.conf.
    std::string board(const std::string& board_conf = "") {
        std::string dir = tmp_ + "/" + std::to_string(++boards_);
        fs::create_directory(dir);
        write_file(dir + "/board.conf", board_conf);
        return dir;
    }

  private:
    std::string tmp_ = temporary_dir();
    int boards_ = 0;
};

// Runs the probe with these operations on the board in dir; no dir: HORNEMU_DIR unset.
result probe(const std::string& dir, const strings& operations) {
    strings argv = emulator_prefix();
    argv.push_back(EMU_PROBE);
    argv.insert(argv.end(), operations.begin(), operations.end());
    strings env = {std::string("LD_PRELOAD=") + EMU_PRELOAD};
    if (!dir.empty()) {
        env.push_back("HORNEMU_DIR=" + dir);
    }
    return run(argv, env);
}

strings with_node(const strings& operations) {
    strings all = {"open", "/dev/hornio", "O_RDWR"};
    all.insert(all.end(), operations.begin(), operations.end());
    return all;
}

// The requests' numbers as the target's kernel encodes them (targets.tsv's requests column).
TEST(Contract, RequestNumbersAreTheTargetsEncoding) {
    const std::map<std::string, std::pair<uint32_t, uint32_t>> known = {
        {"generic", {0x40046B01, 0x80046B02}}, {"mips", {0x80046B01, 0x40046B02}}};
    ASSERT_EQ(known.count(EMU_REQUEST_ENCODING), 1U) << EMU_REQUEST_ENCODING;
    EXPECT_EQ(HORNIO_SET_REQUEST, known.at(EMU_REQUEST_ENCODING).first);
    EXPECT_EQ(HORNIO_GET_REQUEST, known.at(EMU_REQUEST_ENCODING).second);
}

// board.conf errors: every program run on the board fails before it starts.
TEST_F(Emulator, BrokenBoardConfLinesEndTheProgramWith125) {
    const char* const lines[] = {"write fail EWHAT", "write fail",   "write return -1",
                                 "read return many", "ioctl fail 0", "lampstat return 3",
                                 "node absent now",  "nodeabsent",   "ioctl return 99999999999",
                                 "pattern fail EIO"};
    for (const std::string line : lines) {
        const std::string dir = board("# faults\n\nnode absent\n" + line + "\n");
        const result outcome = probe(dir, {});
        EXPECT_EQ(outcome.status, 125) << line;
        EXPECT_EQ(outcome.out + outcome.err, "hornemu: board.conf:4: cannot parse: " + line + "\n");
        EXPECT_FALSE(fs::exists(dir + "/log")) << line;
    }
}

// A state file the driver cannot have written: a command longer than it takes.
TEST_F(Emulator, DamagedStateEndsTheProgramWith125) {
    const std::string dir = board();
    write_file(dir + "/state", "command " + std::string(HORNIO_STANDIN_COMMAND_MAX + 1, 'x'));
    const result damaged = probe(dir, with_node({"read", "1"}));
    EXPECT_EQ(damaged.status, 125);
    EXPECT_EQ(damaged.err, "hornemu: the driver's state file is damaged\n");
}

struct driver_case {
    const char* name;
    std::string board_conf;
    strings operations;
    std::string out;
    std::string log;
    std::string node = {}; // what reached the node's file past the driver
};

// The driver, the faults board.conf injects and the log, as a program sees them; any other
// file passes through untouched.
TEST_F(Emulator, DriverAnswersFaultsAndLogs) {
    const std::string opened = "open /dev/hornio flags=O_RDWR -> ok\n";
    const std::string other = tmp() + "/other";
    const driver_case cases[] = {
        {"errnos by number, named or not",
         "lampstat fail 13\nopen fail 201\n",
         {"fopen", "/proc/lampstat", "r", "open", "/dev/hornio", "O_RDWR"},
         "fopen -> -1 EACCES\nopen -> -1 errno 201\n",
         "open /proc/lampstat mode=r -> EACCES\nopen /dev/hornio flags=O_RDWR -> errno 201\n"},
        {"comments, blank lines, the last directive wins",
         "#\tfaults\n\n \t\r\nwrite fail EIO\nwrite return 4\n", with_node({"write", "period 10"}),
         "open -> fd\nwrite -> 4\n",
         opened + "write /dev/hornio count=9 data=706572696f64203130 -> 4\n"},
        {"a result without the driver", "ioctl return 1\n", with_node({"set", "000a1403", "get"}),
         "open -> fd\nset -> 1\nget -> 1 word=0x00000000\n",
         opened + "ioctl /dev/hornio request=" + set_request + " word=0x000a1403 -> 1\n" +
             "ioctl /dev/hornio request=" + get_request + " word=0x00000000 -> 1\n"},
        {"access modes",
         "",
         {"open", "/dev/hornio", "O_RDONLY", "write", "a", "open", "/dev/hornio",
          "O_WRONLY|O_CREAT", "read", "100", "open", "/dev/hornio", "O_ACCMODE"},
         "open -> fd\nwrite -> -1 EBADF\nopen -> fd\nread -> -1 EBADF\nopen -> fd\n",
         "open /dev/hornio flags=O_RDONLY -> ok\nwrite /dev/hornio count=1 data=61 -> -1 EBADF\n"
         "open /dev/hornio flags=O_WRONLY -> ok\nread /dev/hornio count=100 -> -1 EBADF\n"
         "open /dev/hornio flags=O_ACCMODE -> ok\n"},
        // The node is a character device to fstat, followed through duplicates, and what
        // escapes the interposer is kept in the node's file.
        {"reads, a duplicate, a system call", "",
         with_node({"read", "100", "read", "4", "fstat", "dupfd", "10", "write", "period 1",
                    "rawwrite", "stray", "close"}),
         "open -> fd\nread -> 13 \"status: idle\\x0a\"\nread -> 4 \"stat\"\nfstat -> 0 chr\n"
         "dupfd -> fd\nwrite -> 8\nrawwrite -> 5\nclose -> 0\n",
         opened + "read /dev/hornio count=100 -> 13 data=7374617475733a2069646c650a\n" +
             "read /dev/hornio count=4 -> 4 data=73746174\ndup /dev/hornio -> ok\n" +
             "write /dev/hornio count=8 data=706572696f642031 -> 8\nclose /dev/hornio -> 0\n",
         "stray"},
        // No stdio on the node; the proc file's own descriptor; a request not the driver's.
        {"streams, the proc file's descriptor, another request",
         "",
         {"fopen", "/dev/hornio", "r+", "fopen", "/proc/lampstat", "r e", "open", "/proc/lampstat",
          "O_RDONLY|O_CREAT", "close", "open", "/dev/hornio", "O_RDWR", "ioctl", "5401"},
         "fopen -> -1 EOPNOTSUPP\nfopen -> -1 ENOENT\nopen -> fd\nclose -> 0\nopen -> fd\n"
         "ioctl -> -1 ENOTTY\n",
         "open /dev/hornio mode=r+ -> EOPNOTSUPP\nopen /proc/lampstat mode=r\\x20e -> ENOENT\n"
         "open /proc/lampstat flags=O_RDONLY -> ok\nclose /proc/lampstat\n" +
             opened + "ioctl /dev/hornio request=0x00005401 -> -1 ENOTTY\n"},
        // A regular file or a FIFO in the node's place is reached for real.
        {"a regular file", "node regular\n",
         with_node({"fstat", "write", "abc", "ioctl", terminal_request}),
         "open -> fd\nfstat -> 0 reg\nwrite -> 3\nioctl -> -1 ENOTTY\n",
         opened + "write /dev/hornio count=3 data=616263 -> 3\nioctl /dev/hornio request=" +
             terminal_request + " -> -1 ENOTTY\n",
         "abc"},
        {"a FIFO", "node fifo\n", with_node({"fstat"}), "open -> fd\nfstat -> 0 fifo\n", opened},
        {"another file",
         "",
         {"open", other, "O_RDWR|O_CREAT", "write", "period 10", "ioctl", terminal_request, "close",
          "open", other, "O_RDONLY", "read", "100"},
         "open -> fd\nwrite -> 9\nioctl -> -1 ENOTTY\nclose -> 0\nopen -> fd\nread -> 9 "
         "\"period 10\"\n",
         ""},
    };
    for (const driver_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = board(c.board_conf);
        const result outcome = probe(dir, c.operations);
        EXPECT_EQ(outcome.out + outcome.err, c.out);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(read_file(dir + "/log"), c.log);
        EXPECT_EQ(fs::is_fifo(dir + "/node") ? "" : read_file(dir + "/node"), c.node);
    }
}

// Without HORNEMU_DIR the real paths are opened, whatever this machine has there.
TEST(Interposer, PassesEverythingThroughWithoutAScenario) {
    const result real =
        probe("", {"open", "/dev/hornio", "O_RDONLY", "fopen", "/proc/lampstat", "r"});
    EXPECT_EQ(real.out.substr(0, real.out.find(" \"")),
              std::string(fs::exists("/dev/hornio") ? "open -> fd\n" : "open -> -1 ENOENT\n") +
                  (fs::exists("/proc/lampstat") ? "fopen -> 0" : "fopen -> -1 ENOENT\n"));
}

// The driver model itself, as every stand-in runs it: the command grammar and its limit, the
// status reply, the requests' word and the faults.
TEST(Model, ChecksTheCommandGrammar) {
    const char* const accepted[] = {"period 10",           "count 3",
                                    "pattern xyz",         "period -4 pattern a b",
                                    "count 0 pattern  x ", "period 1234567890",
                                    "period -2147483648",  "count 2147483647",
                                    "pattern period 5",    "period 10 count 3 pattern xyz"};
    const char* const refused[] = {
        "period",     "period ",       "period 10 ",        " period 10",
        "period  10", "period x",      "period 2147483648", "period -2147483649",
        "period 1-",  "period --1",    "count 3 period 1",  "period 1 period 2",
        "pattern ",   "pattern",       "Period 10",         "period 10\n",
        "period +1",  "count 3 bogus", "period 1  count 2", "period 1 count 2 pattern"};
    EXPECT_FALSE(hornio_command_valid("", 0));
    for (const std::string text : accepted) {
        EXPECT_TRUE(hornio_command_valid(text.data(), text.size())) << text;
    }
    for (const std::string text : refused) {
        EXPECT_FALSE(hornio_command_valid(text.data(), text.size())) << text;
    }
}

TEST(Model, RemembersItsSettingAndInjectsFaults) {
    hornio_model model{};
    const hornio_faults none{};
    hornio_faults faults{};
    faults.open = faults.write = faults.request = {HORNIO_FAIL, EIO};
    faults.read = {HORNIO_RETURN, 6};
    int32_t word = 7;
    char out[8] = {};
    const auto status = [&model] {
        char reply[HORNIO_STATUS_MAX];
        return std::string(reply, hornio_model_status(&model, reply, sizeof reply));
    };
    const auto write = [&model](const hornio_faults& with, const std::string& text) {
        return std::to_string(hornio_model_write(&model, &with, text.data(), text.size()));
    };
    const auto request = [&](const hornio_faults& with, unsigned number, int32_t value) {
        word = value;
        const long answer = hornio_model_request(&model, &with, number, &word);
        return std::to_string(answer) + " " + std::to_string(word);
    };
    const auto read = [&out](const hornio_faults& with, const std::string& reply, size_t count) {
        const long answer = hornio_model_read(&with, reply.data(), reply.size(), out, count);
        return std::to_string(answer) + out;
    };
    const std::string longest(HORNIO_STANDIN_COMMAND_MAX - 8, 'x');
    // Each step's answer and the one expected, in order: any bytes in a pattern, at most the
    // longest command the stand-ins take, a failure, and a result of the test's choosing (a
    // read's bytes padded with 'x', never more than asked for).
    const std::pair<std::string, std::string> steps[] = {
        {status(), "status: idle\n"},
        {request(none, HORNIO_GET_REQUEST, 7), "0 0"},
        {write(none, std::string("pattern \0%s\n", 12)), "12"},
        {write(none, "pattern " + longest), std::to_string(HORNIO_STANDIN_COMMAND_MAX)},
        {write(none, "pattern x" + longest), std::to_string(-EINVAL)},
        {write(none, "period 10"), "9"},
        {write(none, "bogus"), std::to_string(-EINVAL)},
        {status(), "status: period 10\n"},
        {request(none, HORNIO_SET_REQUEST, 0x00ff1403), "0 16716803"},
        {status(), "status: off 255 on 20 count 3\n"},
        {request(none, HORNIO_GET_REQUEST, 0), "0 16716803"},
        {request(none, 0x5401, 0), std::to_string(-ENOTTY) + " 0"},
        {std::to_string(hornio_model_request(&model, &none, HORNIO_SET_REQUEST, nullptr)),
         std::to_string(-EFAULT)},
        {std::to_string(hornio_model_open(&faults)), std::to_string(-EIO)},
        {write(faults, "count 1"), std::to_string(-EIO)},
        {request(faults, 0x5401, 0), std::to_string(-EIO) + " 0"},
        {read(faults, "abc", 5), "6abcxx"},
        {read(none, "abcdef", 2), "2abcxx"},
        {status(), "status: off 255 on 20 count 3\n"}};
    for (const auto& [answer, expected] : steps) {
        EXPECT_EQ(answer, expected) << "step " << &answer - &steps[0].first;
    }
}

// A run of hornemu: its arguments, its exit status, a part of the program's output, and parts
// of its standard error (each after "hornemu: ") in this order, the first at its start.
struct runner_case {
    strings arguments;
    int status;
    std::string out;
    strings err;
};

// hornemu, the runner. It runs the program natively, so not under a cross build's emulator.
class Runner : public Emulator {
  protected:
    void SetUp() override {
        if (!emulator_prefix().empty()) {
            GTEST_SKIP() << "hornemu starts programs itself: not under an emulator";
        }
    }
    void check(const runner_case& c) const {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        strings argv = {EMU_RUNNER};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const result outcome = run(argv, {"PATH=/usr/bin:/bin", "TMPDIR=" + tmp()});
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_NE(outcome.out.find(c.out), std::string::npos) << outcome.out;
        size_t at = 0;
        for (const std::string& part : c.err) {
            const std::string line = "hornemu: " + part;
            const size_t found = outcome.err.find(line, at);
            EXPECT_TRUE(found == at || (at > 0 && found != std::string::npos)) << outcome.err;
            at = found == std::string::npos ? at : found + line.size();
        }
    }
};

TEST_F(Runner, RunsTheProgramAndTellsWhatReachedTheDriver) {
    const std::string prog = EMU_PROBE;
    const std::string text_file = tmp() + "/not-a-program";
    const std::string kept = tmp() + "/kept/board";
    const std::string fifo = board("node fifo\n"); // for --dir: no option puts a FIFO there
    write_file(text_file, "data\n");
    write_file(tmp() + "/reply", std::string("50%s\0done\n", 10) + std::string(5000, 'r'));
    const auto on_node = [&prog](strings before, const strings& after) {
        before.insert(before.end(), {"--", prog, "open", "/dev/hornio", "O_RDWR"});
        before.insert(before.end(), after.begin(), after.end());
        return before;
    };
    const std::string opened = "open /dev/hornio flags=O_RDWR -> ok\n";
    const std::string nothing = "no operation on /proc/lampstat or /dev/hornio was logged\n";
    const std::string rq200 = "\"leds: status=off error=off\\x0amodel: RQ-200\\x0a\"\n";
    const runner_case cases[] = {
        {{"--bogus", "--", prog}, 125, "", {"unknown option: --bogus\n"}},
        {{"--board"}, 125, "", {"a value is missing after --board\n"}},
        {{"--board", "qtr", prog}, 125, "", {"--board wants qtr-pn request none: qtr"}},
        {{"--fail", "write:EWHAT", "--", prog}, 125, "", {"unknown errno: EWHAT\n"}},
        {{"--fail", "ead:EIO", "--", prog}, 125, "", {"--fail wants OP:ERRNO"}},
        {{"--return", "ioctl:-1", prog},
         125,
         "",
         {"--return ioctl:-1: no call returns -1 to -4095 (a failure is -1 with an errno): use "
          "--fail ioctl:ERRNO\n"}},
        {{"--return", "lampstat:1", "--", prog}, 125, "", {"--return wants OP:N"}},
        {{"--return", "read:-5000", prog}, 125, "", {"not a valid return value"}},
        {{"--board", "none"}, 125, "", {"no program to run\n"}},
        {{"--dir=", "--", prog}, 125, "", {"--dir wants a value: \n"}},
        {{"--reply", "/nonexistent", prog}, 125, "", {"/nonexistent: No such"}},
        {{"--reply", "/tmp", prog}, 125, "", {"cannot read /tmp: Is a directory\n"}},
        {{"--reply", "/dev/zero", prog}, 125, "", {"cannot read /dev/zero: File too"}},
        {{"no-such-program-7f3a"}, 127, "", {"no-such-program-7f3a: No such file"}},
        {{"--", text_file}, 126, "", {text_file + ": Permission denied\n"}},
        {{"--help"}, 0, "Usage: hornemu [OPTIONS] -- PROGRAM [ARGS...]\n", {}},
        {{"--", "/bin/sh", "-c", "exit 7"}, 7, "", {nothing, "sh exited with status 7\n"}},
        {{prog, "fopen", "/proc/lampstat", "r", "open", "/dev/hornio", "O_RDWR", "close"},
         0,
         "model: QTR-PN\\x0a\"\nopen -> fd\nclose -> 0\n",
         {"open /proc/lampstat mode=r -> ok\n", "close /proc/lampstat\n", opened,
          "close /dev/hornio -> 0\n", "/dev/hornio: no write, read or request was logged\n"}},
        {on_node({"--board", "none", "--fail", "open:4095"}, {"fopen", "/proc/lampstat", "r"}),
         0,
         "open -> -1 errno 4095\nfopen -> -1 ENOENT\n",
         {"open /dev/hornio flags=O_RDWR -> errno 4095\n",
          "open /proc/lampstat mode=r -> ENOENT\n"}},
        // The account quotes no more than the program received, and tells what landed past the
        // driver.
        {on_node({"--return=read:5000", "--fail", "write:EIO"},
                 {"read", "3", "write", "period", "rawwrite", "past", "close"}),
         0,
         "read -> 5000 \"sta\"\nwrite -> -1 EIO\nrawwrite -> 4\nclose -> 0\n",
         {opened, "read /dev/hornio count=3 -> 5000 data=\"sta\"\n",
          "write /dev/hornio count=6 data=\"period\" -> -1 EIO\n",
          "/dev/hornio: 4 bytes landed in the node's file: \"past\"\n"}},
        // A program started without the library, however, makes the run one without the board.
        {{"env", "-i", prog},
         126,
         "",
         {"env started a program that ran without the emulated board", nothing}},
        {{"/bin/sh", "-c", "unset LD_PRELOAD; exec " + prog},
         126,
         "",
         {"sh started a program that ran without the emulated board"}},
        // A kept scenario directory: the driver's memory (but not a refused command) and the
        // board last given stay, and each account tells only its own run. A reply file stands
        // in for the status, whatever its bytes, from its start at every read.
        {{"--dir", kept, "--", prog, "open", "/dev/hornio", "O_WRONLY", "write", "count 5"},
         0,
         "write -> 7\n",
         {"open /dev/hornio flags=O_WRONLY -> ok\n"}},
        {on_node({"--dir", kept, "--board", "request"}, {"read", "100", "set", "000a1403", "write",
                                                         "bogus", "fopen", "/proc/lampstat", "r"}),
         0,
         "read -> 16 \"status: count 5\\x0a\"\nset -> 0\nwrite -> -1 EINVAL\nfopen -> 0 " + rq200,
         {opened, "ioctl /dev/hornio request=" + set_request + " word=0x000a1403 -> 0\n"}},
        {{"--dir", kept, "--reply", tmp() + "/reply", "--", prog, "open", "/dev/hornio", "O_RDONLY",
          "read", "6", "read", "8192", "get", "fopen", "/proc/lampstat", "r"},
         0,
         "read -> 6 \"50%s\\x00d\"\nread -> 5010 \"50%s\\x00done\\x0a" + std::string(5000, 'r') +
             "\"\nget -> 0 word=0x000a1403\nfopen -> 0 " + rq200,
         {"open /dev/hornio flags=O_RDONLY -> ok\n",
          "read /dev/hornio count=6 -> 6 data=\"50%s\\x00d\"\n"}},
        // A FIFO in the node's place is no file to tell the bytes of.
        {on_node({"--dir", fifo}, {"write", "abc"}),
         0,
         "write -> 3\n",
         {opened, "write /dev/hornio count=3 data=\"abc\" -> 3\n"}},
    };
    for (const runner_case& c : cases) {
        check(c);
    }
    // A signal to hornemu reaches the program, and hornemu ends as the program did.
    for (const int number : {SIGTERM, SIGUSR1, SIGALRM}) {
        check({{"/bin/sh", "-c", "kill -" + std::to_string(number) + " $PPID; while :; do :; done"},
               128 + number,
               "",
               {nothing, "sh was killed by signal " + std::to_string(number)}});
    }
    // The temporary scenario directories are gone.
    for (const auto& entry : fs::directory_iterator(tmp())) {
        EXPECT_NE(entry.path().filename().string().rfind("hornemu.", 0), 0U) << entry.path();
    }
}

// A real node is hidden from the program, so that neither a path spelled otherwise nor a
// program without the library reaches it: here a device of other numbers at /dev/hornio, in a
// mount namespace of the test's own.
TEST_F(Runner, NeverReachesARealNode) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can put a device at /dev/hornio";
    }
    const std::string device = "mount -t tmpfs none /dev && mknod /dev/null c 1 3 && "
                               "mknod /dev/hornio c 1 5 && exec " EMU_RUNNER " -- ";
    const std::string opens = " open //dev/hornio O_RDWR fstat open /dev/./hornio O_RDWR fstat "
                              "open /dev/../dev/hornio O_RDWR fstat chdir /dev open hornio "
                              "O_RDWR fstat";
    const std::string hidden = "open -> fd\nfstat -> 0 reg\n";
    const std::pair<std::string, std::string> commands[] = {
        {device + EMU_PROBE + opens, hidden + hidden + hidden + "chdir -> 0\n" + hidden},
        {device + "env -i " + EMU_PROBE + " open /dev/hornio O_RDWR fstat", hidden}};
    for (const auto& [command, out] : commands) {
        const result outcome = run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", command},
                                   {"PATH=/usr/bin:/bin", "TMPDIR=" + tmp()});
        EXPECT_EQ(outcome.out, out) << command << "\n" << outcome.err;
        EXPECT_EQ(outcome.status, command.find("env -i") == std::string::npos ? 0 : 126);
    }
}

} // namespace
