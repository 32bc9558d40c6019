// README's examples, run as shown. Each fenced block after a marker line
// "<!-- board: BOARD[; DIRECTIVE...] -->" holds "$ hornset ..." lines, each
// followed by what it prints (standard error joined, as on a terminal) and
// optionally by "$ echo $?" and the exit status. BOARD is qtr-pn, request or
// none; the directives are board.conf lines.
#include "harness.h"

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

// The words of a command line as the shell splits them: blanks separate,
// quotes hold, an unquoted word starting with '#' begins a comment.
std::vector<std::string> words_of(const std::string& line, std::string* problem) {
    std::vector<std::string> words;
    bool in_word = false;
    for (size_t i = 0; i < line.size() && problem->empty(); ++i) {
        const char c = line[i];
        if (c == ' ' || (c == '#' && !in_word)) {
            in_word = false;
            i = c == '#' ? line.size() : i;
            continue;
        }
        if (!in_word) {
            words.emplace_back();
        }
        in_word = true;
        const size_t end = c == '\'' || c == '"' ? line.find(c, i + 1) : i;
        if (end == std::string::npos) {
            *problem = "unclosed quote";
        } else if (std::string("|&;<>()$`\\*?").find(c) != std::string::npos) {
            *problem = std::string("not a plain command: '") + c + "'";
        } else {
            words.back() += end > i ? line.substr(i + 1, end - i - 1) : std::string(1, c);
            i = end;
        }
    }
    return words;
}

scenario board_of(const std::string& marker, std::string* problem) {
    std::istringstream parts(marker);
    std::string name;
    std::getline(parts, name, ';');
    scenario board = name == "qtr-pn"    ? qtr_pn()
                     : name == "request" ? request_board()
                                         : no_lampstat();
    if (name != "qtr-pn" && name != "request" && name != "none") {
        *problem = "unknown board '" + name + "'";
    }
    for (std::string directive; std::getline(parts >> std::ws, directive, ';');) {
        board.board_conf += directive + "\n";
    }
    return board;
}

// A line of a marked block: a command, "$ echo $?", a status, or what the last
// command (of this block, if any) printed.
void take(const std::string& line, const std::string& where, const std::string& marker,
          example* last, std::vector<example>* examples) {
    if (line.rfind("$ hornset", 0) == 0) {
        example e{where};
        e.board = board_of(marker, &e.problem);
        const std::vector<std::string> words = words_of(line.substr(2), &e.problem);
        e.args.assign(words.begin() + 1, words.end());
        examples->push_back(e);
    } else if (line.rfind("$ echo $?", 0) == 0 && last != nullptr && !last->status) {
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
    std::optional<std::string> marker; // the board of the next fenced block
    std::optional<std::string> block;  // within a fenced block: its board, empty when unmarked
    size_t first = 0;                  // the block's first example
    const std::string marker_start = "<!-- board: ";
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        const std::string where = "Line" + std::to_string(++number);
        if (line.rfind("```", 0) == 0) {
            block = block ? std::nullopt : std::optional<std::string>(marker.value_or(""));
            marker.reset();
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
    if (e.status) {
        EXPECT_EQ(result.status, *e.status) << result;
    }
}

INSTANTIATE_TEST_SUITE_P(Readme, ReadmeExamples, testing::ValuesIn(readme_examples()),
                         [](const testing::TestParamInfo<example>& param) {
                             return param.param.name;
                         });

} // namespace
} // namespace hornset_test
