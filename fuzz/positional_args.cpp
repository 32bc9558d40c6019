// Any argument vector through the positional front end, on a driver that
// works or fails in any way, checked against a model of the dialect built on
// strtoll: the messages, the status, and the request and word that reach the
// driver (or that nothing does).
#include "buzzer.h"
#include "fake_board.h"
#include "front_ends.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// atoi's grammar without its wrap-around: beyond the 32-bit range a value
// stays at the range's end.
int64_t model_value(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return value;
}

struct expected {
    std::string out;
    int status = 1;
    bool request = false;
    unsigned long number = 0;
    int32_t word = 0;
};

expected model(const std::vector<std::string>& given) {
    const size_t argc = given.size();
    const std::string invalid = "Error: Invalid parameter.\n";
    if (argc == 2 && (given[1] == "--version" || given[1] == "--VERSION")) {
        return {"hornset version " HORNSET_VERSION "\n", 0, false, 0, 0};
    }
    if (argc == 2 && (given[1] == "--help" || given[1] == "--HELP")) {
        return {"Usage: hornset [off time] [on time] [count]\n"
                "--help     : help\n"
                "--version  : version\n"
                "off time : 1-255\n"
                "on time  : 1-255\n"
                "count    : 0-255 (255 = buzzer always running.)\n",
                0, false, 0, 0};
    }
    if (argc == 1) {
        return {"", 0, true, hornio_get_request, 0};
    }
    if (argc != 4) {
        return {invalid, 1, false, 0, 0};
    }
    const int64_t off = model_value(given[1]);
    const int64_t on = model_value(given[2]);
    const int64_t count = model_value(given[3]);
    if (off == 0 || on == 0) {
        return {invalid + "Can't set to zero.\n", 1, false, 0, 0};
    }
    if (off < 0 || on < 0 || count < 0) {
        return {invalid + "Can't set to negative value.\n", 1, false, 0, 0};
    }
    if (off > 255 || on > 255 || count > 255) {
        return {invalid + "Can't set to over 255.\n", 1, false, 0, 0};
    }
    return {"", 0, true, hornio_set_request, static_cast<int32_t>(count | on << 8 | off << 16)};
}

void check(const fuzz::run_result& result, const expected& e) {
    const fuzz::board_state& b = fuzz::board();
    if (!e.request) {
        if (result.status != e.status || result.out != e.out || !result.err.empty() ||
            b.opens != 0) {
            fuzz::fail("a run without a request differs from the model", &result);
        }
        return;
    }
    switch (b.fault) {
    case fuzz::node_fault::none:
        if (result.status != 0 || !result.out.empty() || !result.err.empty() || b.requests != 1 ||
            b.opens != 1 || b.closes != 1) {
            fuzz::fail("a request on a working driver did not succeed quietly", &result);
        }
        break;
    case fuzz::node_fault::open_failed:
    case fuzz::node_fault::not_a_device:
        if (result.status != 1 || result.out != "driver open error.\n" ||
            result.err.compare(0, 6, "open: ") != 0 || b.requests != 0) {
            fuzz::fail("a failed open was not reported as such", &result);
        }
        return;
    default:
        if (result.status != 1 || result.out != "driver ioctl error.\n" ||
            result.err.compare(0, 10, "hornset:: ") != 0 || b.requests != 1) {
            fuzz::fail("a failed request was not reported as such", &result);
        }
        break;
    }
    if (b.request_number != e.number || b.request_word != e.word) {
        fuzz::fail("the request or its word differs from the model", &result);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    fuzz::start_run();
    fuzz::choose_node_fault(data[0]);
    fuzz::argument_vector arguments(data + 1, size - 1);
    const expected e = model(arguments.given());
    const int status =
        fuzz::run_front_end(positional_front_end, arguments.argc(), arguments.argv());
    check(fuzz::finish_run(status), e);
    return 0;
}
