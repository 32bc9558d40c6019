/* The buzzer device's contract: the paths the tool opens, the two requests, and the sizes of
 * what crosses the node. The tool, the stand-in drivers (the emulated board, the fuzz targets,
 * the kernel module), the benchmark's floor program and the tests all include this one file,
 * as a kernel's uapi header is included on both sides; no other file states these facts. */
#ifndef HORNSET_DEVICE_HORNIO_H
#define HORNSET_DEVICE_HORNIO_H

#ifdef __KERNEL__
#include <linux/ioctl.h>
#else
#include <sys/ioctl.h>
#endif

/* NOLINTBEGIN(cppcoreguidelines-macro-usage): C, for the kernel module as well */
#define HORNIO_NODE_PATH "/dev/hornio"
#define HORNIO_LAMPSTAT_PATH "/proc/lampstat"

/* Both requests carry the address of a 32-bit word; the platform's own encoding makes the
 * numbers match the driver on every architecture. */
#define HORNIO_SET_REQUEST _IOW('k', 1, int)
#define HORNIO_GET_REQUEST _IOR('k', 2, int)

/* The tool's command text and status reply buffers, terminator included. */
#define HORNIO_TEXT_SIZE 2000

/* The longest command the stand-in drivers take; a longer write fails with EINVAL. It lies
 * above the longest command the tool can send, so that the tool's limit is what tests see. */
#define HORNIO_STANDIN_COMMAND_MAX 2048
/* NOLINTEND(cppcoreguidelines-macro-usage) */

#endif
