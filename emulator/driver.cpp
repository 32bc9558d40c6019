#include "driver.h"

#include "logline.h"
#include "scenario.h"

#include <string_view>

namespace hornemu {
namespace {

constexpr uint32_t set_request = HORNIO_SET_REQUEST;
constexpr uint32_t get_request = HORNIO_GET_REQUEST;

// The driver's memory as the state file holds it, one line: "command HEX" (the last accepted
// command, hex encoded) or "word 0xHHHHHHHH" (the last set word); no file while it is idle.
hornio_model model;
char state_text[2 * sizeof model.command + 16];

int hex_value(char digit) {
    return digit >= '0' && digit <= '9'   ? digit - '0'
           : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
                                          : -1;
}

// Decodes hex digits into out; false on anything else.
bool decode_hex(std::string_view digits, char* out) {
    for (size_t at = 0; at + 1 < digits.size(); at += 2) {
        const int high = hex_value(digits[at]);
        const int low = hex_value(digits[at + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        *out++ = static_cast<char>(high * 16 + low);
    }
    return digits.size() % 2 == 0;
}

// The part of text after prefix and before a final newline; empty when it has neither.
std::string_view between(std::string_view text, std::string_view prefix) {
    if (text.size() <= prefix.size() || text.back() != '\n' ||
        std::string_view(text.data(), prefix.size()) != prefix) {
        return {};
    }
    return {text.data() + prefix.size(), text.size() - prefix.size() - 1};
}

bool parse_state(std::string_view text) {
    const std::string_view command = between(text, "command ");
    const std::string_view word = between(text, "word 0x");
    char bytes[4] = {};
    if (!command.empty() && command.size() <= 2 * sizeof model.command &&
        decode_hex(command, model.command)) {
        model.setting = HORNIO_COMMAND;
        model.command_length = command.size() / 2;
        return true;
    }
    if (word.size() == 8 && decode_hex(word, bytes)) {
        model.setting = HORNIO_WORD;
        model.word = 0;
        for (const char byte : bytes) {
            model.word = static_cast<int32_t>(static_cast<uint32_t>(model.word) << 8U |
                                              static_cast<unsigned char>(byte));
        }
        return true;
    }
    return false;
}

void load_memory() {
    model.setting = HORNIO_IDLE;
    const ssize_t length = read_scenario_file("state", state_text, sizeof state_text);
    if (length >= 0 && !parse_state(std::string_view(state_text, static_cast<size_t>(length)))) {
        fatal("the driver's state file is damaged");
    }
}

void save_memory() {
    start_scenario_file("state.new");
    log_line line("state.new");
    if (model.setting == HORNIO_COMMAND) {
        line.text("command ").hex_bytes(model.command, model.command_length);
    } else {
        line.text("word ").hex32(static_cast<uint32_t>(model.word));
    }
    line.finish();
    rename_scenario_file("state.new", "state");
}

// A negative result is an error, unless a fault made it the operation's return value.
outcome as_outcome(long result, const hornio_fault& fault) {
    return result < 0 && fault.kind != HORNIO_RETURN ? outcome{-1, static_cast<int>(-result)}
                                                     : outcome{result, 0};
}

} // namespace

outcome driver_write(const void* bytes, size_t count) {
    load_memory();
    const long result =
        hornio_model_write(&model, &config().faults, static_cast<const char*>(bytes), count);
    if (result >= 0 && config().faults.write.kind == HORNIO_NO_FAULT) {
        save_memory();
    }
    return as_outcome(result, config().faults.write);
}

outcome driver_read(void* buffer, size_t count) {
    // A reply as long as hornemu copies; a read takes no more than count bytes of it.
    static char reply[size_t{1} << 20U];
    const size_t want = count < sizeof reply ? count : sizeof reply;
    ssize_t length = read_scenario_file("reply", reply, want, false);
    if (length < 0) {
        load_memory();
        length = static_cast<ssize_t>(hornio_model_status(&model, reply, want));
    }
    return as_outcome(hornio_model_read(&config().faults, reply, static_cast<size_t>(length),
                                        static_cast<char*>(buffer), count),
                      config().faults.read);
}

bool request_has_word(unsigned long request) {
    return hornio_request_has_word(static_cast<unsigned int>(request)) != 0;
}

outcome driver_request(unsigned long request, uint32_t* word, bool& filled) {
    load_memory();
    int32_t value = word != nullptr ? static_cast<int32_t>(*word) : 0;
    const long result =
        hornio_model_request(&model, &config().faults, static_cast<unsigned int>(request),
                             word != nullptr ? &value : nullptr);
    const auto number = static_cast<uint32_t>(request);
    filled = word != nullptr && result == 0 && number == get_request &&
             config().faults.request.kind == HORNIO_NO_FAULT;
    if (filled && word != nullptr) {
        *word = static_cast<uint32_t>(value);
    } else if (result == 0 && model.setting == HORNIO_WORD && number == set_request) {
        save_memory();
    }
    return as_outcome(result, config().faults.request);
}

} // namespace hornemu
