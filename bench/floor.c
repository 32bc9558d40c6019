/* The floor of the footprint benchmark: for one representative hornset run, the least a
 * dynamically linked C program does to have the same effect. It makes the same library calls,
 * and so the same system calls in the same order, and prints the same bytes; it parses no
 * argument and checks nothing the run does not need. One binary is built per run, chosen by
 * FLOOR_RUN_<NAME>; scripts/bench checks that each prints, exits and reaches the driver exactly
 * as hornset does. */

#include "hornio.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

/* Board detection: two lines of the proc file, the second naming the board. */
static void read_lampstat(void) {
    char line[1024];
    FILE* proc = fopen(HORNIO_LAMPSTAT_PATH, "r");
    if (proc == NULL) {
        puts("fail to open /proc/lampstat");
        return;
    }
    for (int lines = 0; lines < 2 && fgets(line, sizeof line, proc) != NULL; ++lines) {
    }
    fclose(proc);
}

/* The node, opened read-write and checked to be a character device, as any tool must before it
 * writes to it. */
static int open_node(void) {
    struct stat node;
    int fd = open(HORNIO_NODE_PATH, O_RDWR);
    if (fd < 0 || fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode)) {
        return -1;
    }
    return fd;
}

#if defined(FLOOR_RUN_SET)
/* hornset 10 20 3 on a board of the request interface: the set request. */
int main(void) {
    int word = 10 << 16 | 20 << 8 | 3;
    read_lampstat();
    int fd = open_node();
    ioctl(fd, HORNIO_SET_REQUEST, &word);
    close(fd);
    return 0;
}

#elif defined(FLOOR_RUN_TEXT)
/* hornset -t 10 -c 3 -p xyz on QTR-PN: the trace line, then the command text. */
int main(void) {
    static const char command[] = "period 10 count 3 pattern xyz";
    read_lampstat();
    fputs("cmd for hornio=\"period 10 count 3 pattern xyz\"\n", stdout);
    int fd = open_node();
    if (write(fd, command, sizeof command - 1) <= 0) {
        return 1;
    }
    close(fd);
    return 0;
}

#elif defined(FLOOR_RUN_STATUS)
/* hornset -d on QTR-PN: one read of the status reply, shown as it came (it holds no NUL). */
int main(void) {
    char reply[HORNIO_TEXT_SIZE];
    read_lampstat();
    int fd = open_node();
    ssize_t length = read(fd, reply, sizeof reply);
    close(fd);
    fwrite(reply, 1, (size_t)length, stdout);
    return 0;
}

#elif defined(FLOOR_RUN_VERSION)
/* hornset --version on a board of the request interface; HORNSET_VERSION is the release build's. */
int main(void) {
    read_lampstat();
    fputs("hornset version " HORNSET_VERSION "\n", stdout);
    return 0;
}

#elif defined(FLOOR_RUN_ABSENT)
/* hornset 10 20 3 where neither /proc/lampstat nor /dev/hornio exists: both reports, status 1,
 * standard output's line written before standard error's. */
int main(void) {
    read_lampstat();
    if (open(HORNIO_NODE_PATH, O_RDWR) < 0) {
        fflush(stdout);
        perror("open");
        fputs("driver open error.\n", stdout);
        return 1;
    }
    return 0;
}

#else
#error "define the run to build: FLOOR_RUN_SET, _TEXT, _STATUS, _VERSION or _ABSENT"
#endif
