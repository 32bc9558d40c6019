// Everything the tool exchanges with the buzzer driver through "/dev/hornio".
// Each operation opens the node, uses it once and closes it; a failure is
// reported where it is met and ends the run with status 1.
#pragma once

#include "hornio.h"

#include <cstdint>

// Prints the trace line, then writes the command text (without terminator).
void buzzer_write(const char* command);

// Reads the driver's status reply and shows it on standard output; ends the run.
[[noreturn]] void buzzer_read();

// Issues the set or get request (HORNIO_SET_REQUEST, HORNIO_GET_REQUEST) with the word's address.
void buzzer_request(unsigned long request, int32_t* word);
