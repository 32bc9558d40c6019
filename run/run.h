// How a run of the tool ends: the one exit, and the watch on standard output
// that decides whether a run that would succeed lost its output.
#pragma once

// Ends the process with the given status (0 success, 1 failure). A run that
// would succeed but whose standard output could not be written fails instead,
// with "hornset: write error: <reason>" on standard error, so that a script
// never takes lost output for success.
[[noreturn]] void end_run(int status);

// Called after each write of a run's output to standard output, with whether
// the call reported a failure. The reason of the first failure is kept for
// end_run: a line-buffered or unbuffered stream meets it inside the call, and
// the final flush then has nothing left to fail on.
void note_output(bool failed);

// The errno of the first failed write noted, or 0.
int output_error();

