/*
 * hornprobe: the guest's helper for the kernel-side test.
 *
 *   hornprobe put PATH TEXT      writes TEXT to PATH in one write call (for module
 *                                parameters, whose store takes one write whole)
 *   hornprobe write TEXT         one write of TEXT to /dev/hornio; prints the result
 *   hornprobe read N             one read of at most N bytes; prints the result, a
 *                                colon and the bytes read (never more than N)
 *   hornprobe ioctl REQ WORD     issues request REQ (hex) with the address of WORD;
 *                                prints the result and the word afterwards.
 *                                WORD "bad" passes an address nobody owns.
 *   hornprobe exit CODE          ends the virtual machine with CODE (0 or 1)
 *
 * Results are printed as the count or 0, or as minus the errno on failure.
 * How the machine is ended is chosen when it is built, as the board's guest
 * needs: -DEXIT_DEBUG_EXIT (x86's isa-debug-exit port), -DEXIT_SEMIHOSTING
 * (ARM's semihosting exit call) or -DEXIT_PVPANIC (a power-off for a pass, the
 * pvpanic device for a failure).
 */
#include "hornio.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(EXIT_DEBUG_EXIT)
#include <sys/io.h>
#elif defined(EXIT_PVPANIC)
#include <dirent.h>
#include <sys/mman.h>
#include <sys/reboot.h>
#elif !defined(EXIT_SEMIHOSTING)
#error "build with -DEXIT_DEBUG_EXIT, -DEXIT_SEMIHOSTING or -DEXIT_PVPANIC"
#endif

static int open_node(void) {
    int fd = open(HORNIO_NODE_PATH, O_RDWR);
    if (fd < 0) {
        printf("open %d\n", -errno);
        exit(1);
    }
    return fd;
}

static long result(long ret) {
    return ret < 0 ? -errno : ret;
}

#if defined(EXIT_PVPANIC)
/* Finds QEMU's pvpanic PCI device (1b36:0011), enables it and writes the
   "panicked" event to its register, through /dev/mem as busybox devmem does. */
static void raise_pvpanic(void) {
    char path[300];
    char text[64];
    DIR* dir = opendir("/sys/bus/pci/devices");
    struct dirent* d;
    while (dir && (d = readdir(dir)) != NULL) {
        unsigned long vendor = 0, device = 0, base = 0;
        FILE* f;
        snprintf(path, sizeof path, "/sys/bus/pci/devices/%s/vendor", d->d_name);
        if ((f = fopen(path, "r")) == NULL)
            continue;
        if (fgets(text, sizeof text, f))
            vendor = strtoul(text, NULL, 16);
        fclose(f);
        snprintf(path, sizeof path, "/sys/bus/pci/devices/%s/device", d->d_name);
        if ((f = fopen(path, "r")) == NULL)
            continue;
        if (fgets(text, sizeof text, f))
            device = strtoul(text, NULL, 16);
        fclose(f);
        if (vendor != 0x1b36 || device != 0x0011)
            continue;
        snprintf(path, sizeof path, "/sys/bus/pci/devices/%s/enable", d->d_name);
        if ((f = fopen(path, "w")) != NULL) {
            fputs("1", f);
            fclose(f);
        }
        snprintf(path, sizeof path, "/sys/bus/pci/devices/%s/resource", d->d_name);
        if ((f = fopen(path, "r")) != NULL) {
            if (fgets(text, sizeof text, f))
                base = strtoul(text, NULL, 16);
            fclose(f);
        }
        int fd = open("/dev/mem", O_RDWR | O_SYNC);
        long page = sysconf(_SC_PAGESIZE);
        if (base == 0 || fd < 0)
            break;
        unsigned char* map = mmap(NULL, (size_t)page, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                                  (off_t)(base & ~(unsigned long)(page - 1)));
        if (map == MAP_FAILED)
            break;
        *(volatile unsigned char*)(map + (base & (unsigned long)(page - 1))) = 1;
        break;
    }
}
#endif

static void end_machine(int code) {
    /* Let the console drain before the machine goes away. */
    fflush(stdout);
    tcdrain(1);
    sleep(1);
#if defined(EXIT_DEBUG_EXIT)
    /* isa-debug-exit at 0xf4: QEMU exits with (code << 1) | 1. */
    if (ioperm(0xf4, 4, 1) == 0) {
        unsigned char value = (unsigned char)code;
        __asm__ volatile("outb %0, %1" : : "a"(value), "Nd"((unsigned short)0xf4));
    }
#elif defined(EXIT_SEMIHOSTING) && defined(__aarch64__)
    /* Semihosting SYS_EXIT with ADP_Stopped_ApplicationExit and the code. */
    unsigned long block[2] = {0x20026, (unsigned long)code};
    register unsigned long x0 __asm__("x0") = 0x18;
    register unsigned long x1 __asm__("x1") = (unsigned long)block;
    __asm__ volatile("hlt #0xf000" : "+r"(x0) : "r"(x1) : "memory");
#elif defined(EXIT_SEMIHOSTING) && defined(__arm__)
    /* Semihosting SYS_EXIT_EXTENDED with ADP_Stopped_ApplicationExit and the code. */
    unsigned long block[2] = {0x20026, (unsigned long)code};
    register unsigned long r0 __asm__("r0") = 0x20;
    register unsigned long r1 __asm__("r1") = (unsigned long)block;
#if defined(__thumb__)
    __asm__ volatile("svc 0xab" : "+r"(r0) : "r"(r1) : "memory");
#else
    __asm__ volatile("svc 0x123456" : "+r"(r0) : "r"(r1) : "memory");
#endif
#elif defined(EXIT_SEMIHOSTING)
#error "semihosting exits are written for ARM only"
#elif defined(EXIT_PVPANIC)
    /* A machine without an exit device (Malta), or one that lets no user
       program end it (pseries refuses RTAS ibm,os-term to user space): power
       off for a pass, and for a failure raise the pvpanic device, which QEMU
       turns into exit status 1. */
    if (code == 0) {
        sync();
        reboot(RB_POWER_OFF);
    } else {
        raise_pvpanic();
    }
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
        /* A driver may report more than it was asked for. */
        if (got > 0)
            fwrite(buf, 1, (size_t)got < want ? (size_t)got : want, stdout);
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
    fprintf(stderr, "usage: hornprobe put PATH TEXT | write TEXT | read N | ioctl REQ WORD | exit "
                    "CODE\n");
    return 2;
}
