// The tool's two command-line dialects. Each takes the whole argument vector,
// acts on it and ends the run itself.
#pragma once

// Options -d, -t, -c and -p, for boards whose driver takes text commands.
[[noreturn]] void option_front_end(int argc, char** argv);

// Off time, on time and count as positional numbers, for all other boards.
[[noreturn]] void positional_front_end(int argc, char** argv);
