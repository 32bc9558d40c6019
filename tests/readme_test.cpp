// README's examples, run as shown. Each fenced block after a marker line
// "<!-- board: BOARD[; DIRECTIVE...] -->" holds "$ hornset ..." lines, each
// followed by what it prints (standard error joined, as on a terminal) and
// optionally by "$ echo $?" and the exit status. BOARD is qtr-pn, request or
// none; the directives are board.conf lines.
#include "harness.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace hornset_test {
namespace {

struct example {
    std::string name;
    std::string problem = {}; // what is wrong with the example as written, or empty
    scenario board = {};
    std::vector<std::string> args = {};
    std::string shown = {};
    std::optional<int> status = {};
    bool status_next = false; // "$ echo $?" seen: the next line is the status
};

void PrintTo(const example& e, std::ostream* stream) {
    *stream << e.name;
}

// The words of a plain command line: blanks separate, quotes hold.
std::vector<std::string> words_of(const std::string& line, std::string* problem) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const size_t end = c == '\'' || c == '"' ? line.find(c, i + 1) : i;
        if (end == std::string::npos ||
            std::string("|&;<>()$`\\*?#").find(c) != std::string::npos) {
            *problem = "not a plain command: " + line;
        } else if (c == ' ') {
            words.emplace_back();
        } else {
            words.back() += end > i ? line.substr(i + 1, end - i - 1) : std::string(1, c);
            i = end;
        }
    }
    words.erase(std::remove(words.begin(), words.end(), ""), words.end());
    return words;
}

example command(const std::string& line, const std::string& where, const std::string& marker) {
    example e{where};
    std::istringstream parts(marker);
    std::string name;
    std::getline(parts, name, ';');
    e.board = name == "qtr-pn" ? qtr_pn() : name == "request" ? request_board() : no_lampstat();
    if (name != "qtr-pn" && name != "request" && name != "none") {
        e.problem = "unknown board '" + name + "'";
    }
    for (std::string directive; std::getline(parts >> std::ws, directive, ';');) {
        e.board.board_conf += directive + "\n";
    }
    const std::vector<std::string> words = words_of(line.substr(2), &e.problem);
    e.args.assign(words.begin() + 1, words.end());
    return e;
}

// A line of a marked block: a command, "$ echo $?", a status, or what the last
// command (of this block, if any) printed.
void take(const std::string& line, const std::string& where, const std::string& marker,
          example* last, std::vector<example>* examples) {
    if (line.rfind("$ hornset", 0) == 0) {
        examples->push_back(command(line, where, marker));
    } else if (line == "$ echo $?" && last != nullptr && !last->status) {
        last->status_next = true;
    } else if (line.rfind("$ ", 0) == 0) {
        examples->push_back({where, "\"" + line + "\" follows no hornset line"});
    } else if (last != nullptr && last->status_next) {
        last->status = static_cast<int>(std::strtol(line.c_str(), nullptr, 10));
        last->status_next = false;
    } else if (last != nullptr) {
        last->shown += line + "\n";
    }
}

std::vector<example> readme_examples() {
    const char* readme = std::getenv("HORNSET_TEST_README");
    std::ifstream file(readme != nullptr ? readme : HORNSET_TEST_README);
    std::vector<example> examples;
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
            first = examples.size();
        } else if (!block && line.rfind(marker_start, 0) == 0) {
            marker = line.substr(marker_start.size(), line.rfind(" -->") - marker_start.size());
        } else if (block && !block->empty()) {
            take(line, where, *block, examples.size() > first ? &examples.back() : nullptr,
                 &examples);
        } else if (line.find("$ hornset") != std::string::npos) {
            examples.push_back({where, "a \"$ hornset\" example outside a marked block"});
        }
    }
    return examples;
}

class ReadmeExamples : public testing::TestWithParam<example> {};

TEST_P(ReadmeExamples, PrintWhatReadmeShows) {
    const example& e = GetParam();
    ASSERT_EQ(e.problem, "") << "README.md " << e.name;
    const outcome result = run_hornset(e.board, e.args, joined);
    EXPECT_EQ(result.out, e.shown) << result;
    EXPECT_EQ(result.status, e.status.value_or(result.status)) << result;
}

INSTANTIATE_TEST_SUITE_P(Readme, ReadmeExamples, testing::ValuesIn(readme_examples()), case_name);

} // namespace
} // namespace hornset_test
