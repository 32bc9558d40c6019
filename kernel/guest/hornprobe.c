/* hornprobe: one raw call on /dev/hornio, for the guest's checks of the stand-in module:
 * "write TEXT", "read N" or "ioctl REQUEST WORD" (REQUEST in hex). It prints the result (minus
 * the errno on a failure), then ':' and the bytes read, or the word after the request. A last
 * argument "bad" passes an address nobody owns instead. */
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
    const char call = argc == 3 || argc == 4 ? argv[1][0] : '?';
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
    if (call == 'w') {
        got = write(fd, bad ? bad : last, bad ? 10 : strlen(last));
    } else if (call == 'r') {
        got = read(fd, bad ? bad : bytes, bad ? 10 : size);
    } else if (call == 'i') {
        got = ioctl(fd, strtoul(argv[2], NULL, 16), bad ? (void*)bad : (void*)&word);
    } else {
        fputs("usage: hornprobe write TEXT | read N | ioctl REQUEST WORD\n", stderr);
        return 2;
    }
    printf("%ld", got < 0 ? -errno : got);
    if (call == 'r' && got > 0) {
        printf(":%.*s", (int)((size_t)got < size ? (size_t)got : size), bytes);
    } else if (call == 'i') {
        printf(" 0x%08x", (unsigned int)word);
    }
    putchar('\n');
    return 0;
}
