// The stand-in kernel module as the board a run meets (HORNSET_TEST_DRIVER=module, in the
// kernel guests): the emulated board's scenario told to the module through its parameters, and
// the emulated board's log of a run turned into the module's record of what reached the driver.
#include "harness.h"

#include "emulator/errnames.h"
#include "emulator/logrecord.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace hornset_test {
namespace module_board {
namespace {

const std::string parameters = "/sys/module/hornsim/parameters/";
const std::string linked = HORNIO_NODE_PATH ".alt";

struct setting {
    std::vector<std::pair<std::string, std::string>> values; // parameter and value, in order
    std::string node;    // what takes the node's place: absent, regular, fifo, link; or nothing
    std::string problem; // what the module cannot be told, or empty
};

// One of the emulated driver's directives: "open fail EIO", "read return 0", "node absent".
void add_directive(const std::string& line, setting* s) {
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
    } else if (call == "write" && verb == "return" && value == "0") {
        s->values.emplace_back("write_zero", "1");
    } else if (call == "read" && verb == "return" && value == "0") {
        s->values.emplace_back("read_empty", "1");
    } else if (call == "read" && verb == "return" && count > HORNIO_TEXT_SIZE) {
        s->values.emplace_back("read_extra", std::to_string(count - HORNIO_TEXT_SIZE));
    } else if (call == "ioctl" && verb == "return" && count > 0) {
        s->values.emplace_back("ioctl_result", value);
    } else {
        s->problem = "the module cannot be told \"" + line + "\"";
    }
}

setting translate(const scenario& board) {
    setting s = {{{"reset", "all"}}, "", ""}; // the module as loaded, to start from
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
    std::istringstream numbers(read_file("/sys/class/misc/hornio/dev")); // "MAJOR:MINOR"
    unsigned int major = 0;
    unsigned int minor = 0;
    char colon = 0;
    numbers >> major >> colon >> minor;
    EXPECT_EQ(mknod(path.c_str(), S_IFCHR | 0600, makedev(major, minor)), 0)
        << std::strerror(errno);
}

// What the scenario puts in the node's place, else the module's node (an earlier run's, if any).
void place_node(const std::string& node) {
    struct stat there {};
    if (node.empty() && lstat(HORNIO_NODE_PATH, &there) == 0 && S_ISCHR(there.st_mode)) {
        return;
    }
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

} // namespace

std::string cannot_set_up(const scenario& board) {
    return translate(board).problem;
}

void set_up(const scenario& board) {
    const setting s = translate(board);
    place_node(s.node);
    for (const auto& [name, value] : s.values) {
        std::ofstream parameter(parameters + name);
        parameter << value << std::flush;
        EXPECT_TRUE(parameter.good())
            << "cannot set the module's " << name << ": " << std::strerror(errno);
    }
}

std::string record() {
    return read_file(parameters + "seen");
}

} // namespace module_board

// On the module: it counts the opens, writes, reads and requests that reached it and keeps the
// last of each (a write's count and text, a read's count, a request's number and word):
// "open 1 rdwr; write 1 9 "period 10"; read 0; ioctl 0".
std::string recorded(const std::string& log, const scenario& board) {
    if (!on_module()) {
        return log;
    }
    std::map<std::string, std::pair<unsigned int, std::string>> seen; // calls, the last one
    const std::string node = module_board::translate(board).node;
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

} // namespace hornset_test
