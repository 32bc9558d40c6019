/* The buzzer driver's behaviour for every stand-in (the emulated board, the fuzz targets, the
 * kernel module): the command grammar, the status reply, the requests' word and the injected
 * faults. Plain C that a kernel build compiles too; results are counts or -errno. */
#pragma once

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

/* An operation fails with an errno, or returns a value of the test's choosing without acting. */
enum hornio_fault_kind { HORNIO_NO_FAULT, HORNIO_FAIL, HORNIO_RETURN };
struct hornio_fault {
    enum hornio_fault_kind kind;
    long value; /* the errno, or the result */
};
struct hornio_faults {
    struct hornio_fault open, write, read, request;
};

/* The driver's memory: its last accepted command or set word. */
enum hornio_setting { HORNIO_IDLE, HORNIO_COMMAND, HORNIO_WORD };
struct hornio_model {
    enum hornio_setting setting;
    size_t command_length;
    char command[HORNIO_STANDIN_COMMAND_MAX];
    int32_t word;
};

/* The longest status reply: "status: ", a command and "\n". */
enum { HORNIO_STATUS_MAX = HORNIO_STANDIN_COMMAND_MAX + 16 };

/* One to three items in the order "period N", "count N", "pattern TEXT", separated by single
 * spaces; N is an optional '-' and decimal digits whose value fits a signed 32-bit int; TEXT
 * runs to the end, any bytes, not empty. Nothing before, between or after. */
int hornio_command_valid(const char* text, size_t length);

long hornio_model_open(const struct hornio_faults* faults);

/* A valid command of at most HORNIO_STANDIN_COMMAND_MAX bytes is remembered; else -EINVAL. */
long hornio_model_write(struct hornio_model* model, const struct hornio_faults* faults,
                        const char* text, size_t count);

/* "status: idle\n", "status: " and the last command and "\n", or "status: off A on B count C\n"
 * after a set request, cut to size bytes; its length. */
size_t hornio_model_status(const struct hornio_model* model, char* out, size_t size);

/* A read of at most count bytes of reply; a HORNIO_RETURN fault's value is the result, the bytes
 * up to it padded with 'x'. */
long hornio_model_read(const struct hornio_faults* faults, const char* reply, size_t reply_length,
                       char* out, size_t count);

/* The set request remembers *word, the get request fills it with the last set word (0 when the
 * last setting was not one); another request fails with -ENOTTY, a null word with -EFAULT. */
long hornio_model_request(struct hornio_model* model, const struct hornio_faults* faults,
                          unsigned int request, int32_t* word);

/* Whether a request is the set or the get request, whose argument is a word. */
int hornio_request_has_word(unsigned int request);

#ifdef __cplusplus
}
#endif
