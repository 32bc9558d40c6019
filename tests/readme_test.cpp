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
};

std::string example_name(const testing::TestParamInfo<example>& info) {
    return info.param.name;
}

void PrintTo(const example& e, std::ostream* stream) {
    *stream << e.name;
}

// The words of a command line as the shell splits them: blanks separate,
// quotes hold, an unquoted word starting with '#' begins a comment.
std::vector<std::string> words_of(const std::string& line, std::string* problem) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ') {
            if (in_word) {
                words.push_back(word);
            }
            word.clear();
            in_word = false;
        } else if (c == '\'' || c == '"') {
            const size_t end = line.find(c, i + 1);
            if (end == std::string::npos) {
                *problem = "unclosed quote";
                return words;
            }
            word += line.substr(i + 1, end - i - 1);
            in_word = true;
            i = end;
        } else if (c == '#' && !in_word) {
            break;
        } else if (std::string("|&;<>()$`\\*?").find(c) != std::string::npos) {
            *problem = std::string("not a plain command: '") + c + "'";
            return words;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) {
        words.push_back(word);
    }
    return words;
}

scenario board_of(const std::string& marker, std::string* problem) {
    const size_t end = marker.find(';');
    const std::string name = marker.substr(0, end);
    scenario board = name == "qtr-pn"    ? qtr_pn()
                     : name == "request" ? request_board()
                                         : no_lampstat();
    if (name != "qtr-pn" && name != "request" && name != "none") {
        *problem = "unknown board '" + name + "'";
    }
    for (size_t at = end; at != std::string::npos;) {
        const size_t next = marker.find(';', at + 1);
        const size_t from = marker.find_first_not_of(' ', at + 1);
        board.board_conf += marker.substr(from, next == std::string::npos ? next : next - from);
        board.board_conf += '\n';
        at = next;
    }
    return board;
}

std::vector<example> readme_examples() {
    const char* readme = std::getenv("HORNSET_TEST_README");
    std::ifstream file(readme != nullptr ? readme : HORNSET_TEST_README);
    std::vector<example> examples;
    std::optional<std::string> marker; // the board of the next fenced block
    bool in_block = false;
    bool checked = false;     // the block is an example block
    std::string block_marker; // and this is its board
    example* last = nullptr;
    int number = 0;
    const std::string marker_start = "<!-- board: ";
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::string where = "Line" + std::to_string(number);
        if (line.rfind("```", 0) == 0) {
            in_block = !in_block;
            checked = in_block && marker.has_value();
            block_marker = marker.value_or("");
            marker.reset();
            last = nullptr;
        } else if (!in_block && line.rfind(marker_start, 0) == 0) {
            marker = line.substr(marker_start.size(), line.rfind(" -->") - marker_start.size());
        } else if (checked && line.rfind("$ echo $?", 0) == 0) {
            if (last == nullptr || last->status) {
                last = nullptr;
                examples.push_back({where, "\"$ echo $?\" follows no hornset line"});
            } else {
                last->status = -1; // the next line holds it
            }
        } else if (checked && line.rfind("$ hornset", 0) == 0) {
            example e{where};
            e.board = board_of(block_marker, &e.problem);
            const std::vector<std::string> words = words_of(line.substr(2), &e.problem);
            e.args.assign(words.begin() + 1, words.end());
            examples.push_back(e);
            last = &examples.back();
        } else if (line.find("$ hornset") != std::string::npos) {
            examples.push_back({where, "a \"$ hornset\" example outside a marked block"});
            last = nullptr;
        } else if (last != nullptr && last->status == -1) {
            last->status = std::atoi(line.c_str());
        } else if (last != nullptr) {
            last->shown += line + "\n";
        }
    }
    return examples;
}

class ReadmeExamples : public testing::TestWithParam<example> {};

TEST_P(ReadmeExamples, PrintWhatReadmeShows) {
    const example& e = GetParam();
    ASSERT_EQ(e.problem, "") << "README.md " << e.name;
    streams given;
    given.joined = true;
    const outcome result = run_hornset(e.board, e.args, given);
    EXPECT_EQ(result.out, e.shown) << result;
    if (e.status) {
        EXPECT_EQ(result.status, *e.status) << result;
    }
}

INSTANTIATE_TEST_SUITE_P(Readme, ReadmeExamples, testing::ValuesIn(readme_examples()),
                         example_name);

} // namespace
} // namespace hornset_test
