// Faults of the emulated board beyond the plain -1 and 0 results: transfers
// that move fewer bytes than asked, request results other than 0 and -1, an
// interrupted write, and an unreadable proc file before a request. Device
// failures with standard output lost are in the lost-output table.
#include "harness.h"

#include <cerrno>

namespace hornset_test {
namespace {

INSTANTIATE_TEST_SUITE_P(
    Faults, RunCase,
    testing::Values(
        // A write that moves some bytes is the driver's success.
        run_case{"ShortWriteSucceeds", qtr_pn("write return 3\n"), write_args, trace, "", 0,
                 logged::proc_read + logged::node_open + logged::write("period 10", "3") +
                     logged::node_close},
        // The tool does not retry: an interrupted write is a failed write.
        run_case{"InterruptedWriteFails", qtr_pn("write fail EINTR\n"), write_args,
                 trace + "driver write error.\n", "hornset:: " + c_library::reason(EINTR) + "\n", 1,
                 logged::proc_read + logged::node_open + logged::write("period 10", "-1 EINTR")},
        // A short read is shown as read, nothing of the rest of the buffer.
        run_case{"ShortReadShownAsRead",
                 qtr_pn("read return 3\n"),
                 {"-d"},
                 "sta",
                 "",
                 0,
                 logged::proc_read + logged::node_open + logged::read_returned("sta") +
                     logged::node_close},
        // Any request result but 0 fails, also negative ones without an error.
        run_case{"SetNegativeResult", request_board("ioctl return -2\n"), set_args,
                 "driver ioctl error.\n", "hornset:: " + c_library::reason(0) + "\n", 1,
                 logged::proc_read + logged::node_open +
                     logged::request(set_request_number, set_word, "-2")},
        run_case{"GetMinusOneWithoutError",
                 request_board("ioctl return -1\n"),
                 {},
                 "driver ioctl error.\n",
                 "hornset:: " + c_library::reason(0) + "\n",
                 1,
                 logged::proc_read + logged::node_open +
                     logged::request(get_request_number, 0, "-1")},
        // A proc file that cannot be read leaves the request interface; the
        // request then goes out as usual.
        run_case{"ProcFileErrorThenSet", request_board("lampstat fail EIO\n"), set_args,
                 "fail to open /proc/lampstat\n", "", 0,
                 "open /proc/lampstat mode=r -> EIO\n" + logged::node_open +
                     logged::request(set_request_number, set_word, "0") + logged::node_close},
        run_case{"ProcFileErrorThenRefusal",
                 request_board("lampstat fail EACCES\n"),
                 {"0", "1", "1"},
                 "fail to open /proc/lampstat\nError: Invalid parameter.\nCan't set to zero.\n",
                 "",
                 1,
                 "open /proc/lampstat mode=r -> EACCES\n"}),
    case_name);

} // namespace
} // namespace hornset_test
