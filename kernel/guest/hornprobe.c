/* hornprobe: one raw call on /dev/hornio, for the guest's checks of the stand-in module.
 *
 *   hornprobe write TEXT       one write of TEXT; prints the result
 *   hornprobe read N           one read of at most N bytes; prints the result, ':' and the bytes
 *   hornprobe ioctl REQ WORD   request REQ (hex) with WORD's address; prints the result and the
 *                              word afterwards
 *
 * The last argument "bad" passes an address nobody owns instead. A result is the count, or
 * minus the errno. */
#include "hornio.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    static char bytes[4096];
    const char* call = argc > 2 ? argv[1] : "";
    const char* last = argv[argc - 1];
    char* bad = strcmp(last, "bad") == 0 ? (char*)16 : NULL;
    int word = (int)strtoul(last, NULL, 0);
    size_t size = (size_t)word < sizeof bytes ? (size_t)word : sizeof bytes;
    long got = 0;
    int fd = open(HORNIO_NODE_PATH, O_RDWR);
    if (fd < 0) {
        perror("hornprobe: open");
        return 1;
    }
    if (argc == 3 && strcmp(call, "write") == 0) {
        got = write(fd, bad ? bad : last, bad ? 10 : strlen(last));
    } else if (argc == 3 && strcmp(call, "read") == 0) {
        got = read(fd, bad ? bad : bytes, bad ? 10 : size);
    } else if (argc == 4 && strcmp(call, "ioctl") == 0) {
        got = ioctl(fd, strtoul(argv[2], NULL, 16), bad ? (void*)bad : (void*)&word);
    } else {
        fputs("usage: hornprobe write TEXT | read N | ioctl REQ WORD\n", stderr);
        return 2;
    }
    printf("%ld", got < 0 ? -errno : got);
    if (call[0] == 'r' && got > 0) {
        printf(":%.*s", (int)((size_t)got < size ? (size_t)got : size), bytes);
    } else if (call[0] == 'i') {
        printf(" 0x%08x", (unsigned int)word);
    }
    putchar('\n');
    return 0;
}
