// README's examples, run as shown: each "$ hornset ..." line of a fenced block after a marker
// line (CONTRIBUTING.md's "Tests" gives the form) and what it prints.
#include "harness.h"

#include <cstdlib>
#include <fstream>
#include <iomanip>

namespace hornset_test {
namespace {

run_case problem(const std::string& where, const std::string& what) {
    return {where, {}, {}, "", "README.md " + where + ": " + what, {}, {}, joined};
}

// A command line of a block marked with this board: words separated by blanks, quotes hold.
run_case command(const std::string& line, const std::string& where, const std::string& marker) {
    std::istringstream parts(marker);
    std::string name;
    std::getline(parts, name, ';');
    if (name != "qtr-pn" && name != "request" && name != "none") {
        return problem(where, "unknown board '" + name + "'");
    }
    if (line.find_first_of("|&;<>()$`\\*?#\"", 2) != std::string::npos) {
        return problem(where, "not a plain command: " + line);
    }
    const scenario board = name == "qtr-pn"    ? qtr_pn()
                           : name == "request" ? request_board()
                                               : scenario{};
    run_case c = {where, board, {}, "", "", {}, {}, joined};
    for (std::string directive; std::getline(parts >> std::ws, directive, ';');) {
        c.board.board_conf += directive + "\n";
    }
    std::istringstream words(line.substr(std::string("$ hornset").size()));
    for (std::string word; words >> std::quoted(word, '\'');) {
        c.args.push_back(word);
    }
    return c;
}

// A line of a marked block: a command, "$ echo $?", a status, or what the block's last
// command (last, if any) printed.
void take(const std::string& line, const std::string& where, const std::string& marker,
          run_case* last, std::vector<run_case>* cases) {
    if (line.rfind("$ hornset", 0) == 0) {
        cases->push_back(command(line, where, marker));
    } else if (line == "$ echo $?" && last != nullptr && !last->status) {
        last->status = -1; // the next line is the status
    } else if (line.rfind("$ ", 0) == 0) {
        cases->push_back(problem(where, "\"" + line + "\" follows no hornset line"));
    } else if (last != nullptr && last->status == -1) {
        last->status = static_cast<int>(std::strtol(line.c_str(), nullptr, 10));
    } else if (last != nullptr) {
        last->out += line + "\n";
    }
}

std::vector<run_case> readme_examples() {
    const char* readme = std::getenv("HORNSET_TEST_README");
    std::ifstream file(readme != nullptr ? readme : HORNSET_TEST_README);
    std::vector<run_case> cases;
    std::string marker;               // the board of the next fenced block
    std::optional<std::string> block; // within a fenced block: its board, empty when unmarked
    size_t first = 0;                 // the block's first example
    const std::string marker_start = "<!-- board: ";
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        const std::string where = "Line" + std::to_string(++number);
        if (line.rfind("```", 0) == 0) {
            block = block ? std::nullopt : std::optional<std::string>(marker);
            marker.clear();
            first = cases.size();
        } else if (!block && line.rfind(marker_start, 0) == 0) {
            marker = line.substr(marker_start.size(), line.rfind(" -->") - marker_start.size());
        } else if (block && !block->empty()) {
            take(line, where, *block, cases.size() > first ? &cases.back() : nullptr, &cases);
        } else if (line.find("$ hornset") != std::string::npos) {
            cases.push_back(problem(where, "a \"$ hornset\" example outside a marked block"));
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Readme, RunCase, testing::ValuesIn(readme_examples()), case_name);

} // namespace
} // namespace hornset_test
