// The one way a run of the tool ends.
#pragma once

// Ends the process with the given status (0 success, 1 failure). A run that
// would succeed but whose standard output could not be written fails instead,
// with "hornset: write error: <reason>" on standard error, so that a script
// never takes lost output for success.
[[noreturn]] void end_run(int status);
