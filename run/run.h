// How a run of the tool ends: the one exit, and the watch on standard output
// that decides whether a run that would succeed lost its output.
#pragma once

// Ends the process with the given status (0 success, 1 failure). A run that
// would succeed but whose standard output could not be written fails instead,
// with "hornset: write error: <reason>" on standard error, so that a script
// never takes lost output for success. A failing run exits 1 even when
// standard output or standard error is a pipe whose reader has gone.
[[noreturn]] void end_run(int status);

// Called after each write of a run's output to standard output, with whether
// the call reported a failure. The reason of the first failure is kept for
// end_run: a line-buffered or unbuffered stream meets it inside the call, and
// the final flush then has nothing left to fail on.
void note_output(bool failed);

// The errno of the first failed write noted, or 0.
int output_error();

// Marks the run as failing: from here on a write to a pipe whose reader has
// gone fails with EPIPE instead of ending the process by SIGPIPE, so that
// what can still be printed is printed and the status stays 1, whichever
// stream has lost its reader and however standard output is buffered. Called
// as soon as a run has decided to fail, before anything of its report is
// printed; calls after the first change nothing. A successful run never calls
// it and keeps the default, as other tools do.
void run_fails();
