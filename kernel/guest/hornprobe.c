/*
 * hornprobe: the guest's helper for the kernel-side test.
 *
 *   hornprobe put PATH TEXT      writes TEXT to PATH in one write call (for module
 *                                parameters, whose store takes one write whole)
 *   hornprobe write TEXT         one write of TEXT to /dev/hornio; prints the result
 *   hornprobe read N             one read of at most N bytes; prints the result, a
 *                                colon and the bytes read
 *   hornprobe ioctl REQ WORD     issues request REQ (hex) with the address of WORD;
 *                                prints the result and the word afterwards.
 *                                WORD "bad" passes an address nobody owns.
 *   hornprobe exit CODE          ends the virtual machine with CODE (0 or 1)
 *
 * Results are printed as the count or 0, or as minus the errno on failure.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <sys/io.h>
#endif

static const char node[] = "/dev/hornio";

static int open_node(void) {
    int fd = open(node, O_RDWR);
    if (fd < 0) {
        printf("open %d\n", -errno);
        exit(1);
    }
    return fd;
}

static long result(long ret) {
    return ret < 0 ? -errno : ret;
}

static void end_machine(int code) {
    /* Let the console drain before the machine goes away. */
    fflush(stdout);
    tcdrain(1);
    sleep(1);
#if defined(__x86_64__)
    /* isa-debug-exit at 0xf4: QEMU exits with (code << 1) | 1. */
    if (ioperm(0xf4, 4, 1) == 0) {
        unsigned char value = (unsigned char)code;
        __asm__ volatile("outb %0, %1" : : "a"(value), "Nd"((unsigned short)0xf4));
    }
#elif defined(__aarch64__)
    /* Semihosting SYS_EXIT with ADP_Stopped_ApplicationExit and the code. */
    unsigned long block[2] = {0x20026, (unsigned long)code};
    register unsigned long x0 __asm__("x0") = 0x18;
    register unsigned long x1 __asm__("x1") = (unsigned long)block;
    __asm__ volatile("hlt #0xf000" : "+r"(x0) : "r"(x1) : "memory");
#endif
    fprintf(stderr, "hornprobe: could not end the machine\n");
    exit(2);
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "put") == 0) {
        int fd = open(argv[2], O_WRONLY);
        size_t len = strlen(argv[3]);
        if (fd < 0 || write(fd, argv[3], len) != (ssize_t)len) {
            fprintf(stderr, "hornprobe: %s: %s\n", argv[2], strerror(errno));
            return 1;
        }
        return close(fd) == 0 ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "write") == 0) {
        int fd = open_node();
        printf("%ld\n", result(write(fd, argv[2], strlen(argv[2]))));
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "read") == 0) {
        static char buf[8192];
        size_t want = strtoul(argv[2], NULL, 10);
        int fd = open_node();
        long got = result(read(fd, buf, want < sizeof buf ? want : sizeof buf));
        printf("%ld:", got);
        if (got > 0)
            fwrite(buf, 1, (size_t)got, stdout);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "ioctl") == 0) {
        unsigned long request = strtoul(argv[2], NULL, 16);
        int word = (int)strtoul(argv[3], NULL, 0);
        void* arg = strcmp(argv[3], "bad") == 0 ? (void*)16 : (void*)&word;
        int fd = open_node();
        long ret = result(ioctl(fd, request, arg));
        printf("%ld 0x%08x\n", ret, (unsigned int)word);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "exit") == 0)
        end_machine(atoi(argv[2]));
    fprintf(stderr,
            "usage: hornprobe put PATH TEXT | write TEXT | read N | ioctl REQ WORD | exit CODE\n");
    return 2;
}
