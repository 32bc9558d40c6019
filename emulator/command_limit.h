/* The longest command text the three stand-in buzzer drivers take: the emulated board's
 * (emulator/driver.cpp), the fuzz targets' in-process board (fuzz/fake_board.cpp) and the
 * kernel module (kernel/hornsim.c, HORN_CMD_MAX). A longer write fails with EINVAL, as a
 * driver with a buffer of this size would fail it. It lies above the longest command hornset
 * can send (1999 bytes: its 2000-byte buffer holds the terminator too), so that the tool's own
 * limit, not the driver's, is what the tests see.
 *
 * C and C++ both read this file. The kernel module is built from hornsim.c alone (the kernel
 * test copies it into the module's build with Kbuild), so it states the number again;
 * emulator/CMakeLists.txt stops the configuration when the two differ. */
#ifndef HORNSET_EMULATOR_COMMAND_LIMIT_H
#define HORNSET_EMULATOR_COMMAND_LIMIT_H

enum { hornio_command_max = 2048 };

#endif
