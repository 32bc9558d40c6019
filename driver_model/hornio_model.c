#include "hornio_model.h"

#ifdef __KERNEL__
#include <linux/errno.h>
#include <linux/kernel.h> /* INT_MIN, snprintf */
#include <linux/string.h>
#else
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#endif

/* Takes word (of length bytes) from the start of *text, which has *left bytes. */
static int take(const char** text, size_t* left, const char* word, size_t length) {
    if (*left < length || memcmp(*text, word, length) != 0) {
        return 0;
    }
    *text += length;
    *left -= length;
    return 1;
}

/* Takes an optional '-' and digits whose value fits a signed 32-bit int. */
static int take_number(const char** text, size_t* left) {
    const long long limit = take(text, left, "-", 1) ? -(long long)INT_MIN : INT_MAX;
    const char* const digits = *text;
    long long value = 0;
    while (*left > 0 && **text >= '0' && **text <= '9' && value <= limit) {
        value = value * 10 + (**text - '0');
        ++*text;
        --*left;
    }
    return *text != digits && value <= limit;
}

int hornio_command_valid(const char* text, size_t length) {
    static const char* const numbered[] = {"period ", "count "};
    size_t item;
    for (item = 0; item < 2; ++item) {
        if (!take(&text, &length, numbered[item], strlen(numbered[item]))) {
            continue;
        }
        if (!take_number(&text, &length)) {
            return 0;
        }
        if (length == 0 || !take(&text, &length, " ", 1)) {
            return length == 0;
        }
    }
    /* What is left must be the pattern, which runs to the end and must not be empty. */
    return take(&text, &length, "pattern ", 8) && length > 0;
}

/* Whether the fault decides the operation; if so, *result is its -errno or value. */
static int faulted(const struct hornio_fault* fault, long* result) {
    if (fault->kind != HORNIO_NO_FAULT) {
        *result = fault->kind == HORNIO_FAIL ? -fault->value : fault->value;
    }
    return fault->kind != HORNIO_NO_FAULT;
}

long hornio_model_open(const struct hornio_faults* faults) {
    long result = 0;
    faulted(&faults->open, &result);
    return result;
}

long hornio_model_write(struct hornio_model* model, const struct hornio_faults* faults,
                        const char* text, size_t count) {
    long result;
    if (faulted(&faults->write, &result)) {
        return result;
    }
    if (count > HORNIO_STANDIN_COMMAND_MAX || !hornio_command_valid(text, count)) {
        return -EINVAL;
    }
    model->setting = HORNIO_COMMAND;
    model->command_length = count;
    memcpy(model->command, text, count);
    return (long)count;
}

/* Copies at most size - at bytes of part to out at at; returns the new length. */
static size_t append(char* out, size_t at, size_t size, const char* part, size_t length) {
    const size_t copied = length < size - at ? length : size - at;
    memcpy(out + at, part, copied);
    return at + copied;
}

size_t hornio_model_status(const struct hornio_model* model, char* out, size_t size) {
    const unsigned word = (unsigned)model->word;
    const int command = model->setting == HORNIO_COMMAND;
    char values[40] = "idle";
    size_t at = append(out, 0, size, "status: ", 8);
    if (model->setting == HORNIO_WORD) {
        snprintf(values, sizeof values, "off %u on %u count %u", word >> 16 & 0xff,
                 word >> 8 & 0xff, word & 0xff);
    }
    at = append(out, at, size, command ? model->command : values,
                command ? model->command_length : strlen(values));
    return append(out, at, size, "\n", 1);
}

long hornio_model_read(const struct hornio_faults* faults, const char* reply, size_t reply_length,
                       char* out, size_t count) {
    long result = (long)(reply_length < count ? reply_length : count);
    size_t want;
    if (faulted(&faults->read, &result) && faults->read.kind == HORNIO_FAIL) {
        return result;
    }
    /* What is returned, but never more than count bytes; beyond the reply, 'x'. */
    want = (unsigned long)result < count ? (size_t)result : count;
    memset(out, 'x', want);
    memcpy(out, reply, reply_length < want ? reply_length : want);
    return result;
}

int hornio_request_has_word(unsigned int request) {
    return request == (unsigned int)HORNIO_SET_REQUEST ||
           request == (unsigned int)HORNIO_GET_REQUEST;
}

long hornio_model_request(struct hornio_model* model, const struct hornio_faults* faults,
                          unsigned int request, int32_t* word) {
    long result;
    if (faulted(&faults->request, &result)) {
        return result;
    }
    if (!hornio_request_has_word(request)) {
        return -ENOTTY;
    }
    if (word == NULL) {
        return -EFAULT;
    }
    if (request == (unsigned int)HORNIO_SET_REQUEST) {
        model->setting = HORNIO_WORD;
        model->word = *word;
    } else {
        *word = model->setting == HORNIO_WORD ? model->word : 0;
    }
    return 0;
}
