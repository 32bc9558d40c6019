/* The buzzer driver's behaviour, written once for every stand-in: the text-command grammar, the
 * status reply, the set and get requests' word and the faults a test injects. The emulated
 * board, the fuzz targets and the kernel module are adapters that bring their calls here; what
 * only one of them can do (files, user copies, module parameters) stays theirs. Plain C that a
 * kernel build compiles too: results are counts or negative errno values, as in a driver. */
#ifndef HORNSET_DRIVER_MODEL_H
#define HORNSET_DRIVER_MODEL_H

#include "hornio.h"

#ifdef __KERNEL__
#include <linux/types.h>
#else
#include <stddef.h>
#include <stdint.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A fault injected into one operation: it fails with an errno, or returns a value of the
 * test's choosing without the driver acting. */
enum hornio_fault_kind { HORNIO_NO_FAULT, HORNIO_FAIL, HORNIO_RETURN };

struct hornio_fault {
    enum hornio_fault_kind kind;
    long value; /* HORNIO_FAIL: the errno; HORNIO_RETURN: the result */
};

struct hornio_faults {
    struct hornio_fault open, write, read, request;
};

/* What the driver remembers: its last accepted command or set word. */
enum hornio_setting { HORNIO_IDLE, HORNIO_COMMAND, HORNIO_WORD };

struct hornio_model {
    enum hornio_setting setting;
    size_t command_length;
    char command[HORNIO_STANDIN_COMMAND_MAX];
    int32_t word;
};

/* The longest status reply the model makes: "status: " and a command, or a word's values. */
#define HORNIO_STATUS_MAX                                                                          \
    (HORNIO_STANDIN_COMMAND_MAX + 16) /* NOLINT(cppcoreguidelines-macro-usage) */

/* One to three items in the order "period N", "count N", "pattern TEXT", separated by single
 * spaces; N is an optional '-' and decimal digits whose value fits a signed 32-bit int; TEXT
 * runs to the end, any bytes, not empty. Nothing before, between or after. */
int hornio_command_valid(const char* text, size_t length);

/* 0, or the open fault's -errno. */
long hornio_model_open(const struct hornio_faults* faults);

/* A command write of count bytes: the fault's result, -EINVAL for a text that is not a command
 * or is longer than HORNIO_STANDIN_COMMAND_MAX, else the command is remembered and the result
 * is count. */
long hornio_model_write(struct hornio_model* model, const struct hornio_faults* faults,
                        const char* text, size_t count);

/* The status reply into out (at most size bytes): "status: idle\n", "status: " and the last
 * command and "\n", or "status: off A on B count C\n" after a set request. Its length. */
size_t hornio_model_status(const struct hornio_model* model, char* out, size_t size);

/* A read of count bytes from reply (the status, or a reply the test chose) into out: at most
 * count bytes, from the reply's start at every read. With a HORNIO_RETURN fault the result is
 * the fault's value and the first bytes of out up to it are the reply's, padded with 'x'. */
long hornio_model_read(const struct hornio_faults* faults, const char* reply, size_t reply_length,
                       char* out, size_t count);

/* A request: the fault's result, else -ENOTTY for any but the set and get requests, -EFAULT
 * when the adapter could not fetch the word (word null). The set request remembers *word; the
 * get request fills it with the last set word (0 when the last setting was not one). */
long hornio_model_request(struct hornio_model* model, const struct hornio_faults* faults,
                          unsigned int request, int32_t* word);

/* Whether a request number is the set or the get request, whose argument is a word. */
int hornio_request_has_word(unsigned int request);

#ifdef __cplusplus
}
#endif

#endif
