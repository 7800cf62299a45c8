#pragma once
// The two ways the program gives up. Both are exceptions that only main catches, so that
// the loaders and the engine can be run, tested and fuzzed in one process without ending it.

#include <stdexcept>
#include <string>

// An unrecoverable condition of the physics or of the run: main writes "\nERROR: " and the
// message on standard output and returns 1.
struct FatalError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fatalError(const std::string& message) { throw FatalError(message); }

// An input file the run cannot start from: main writes the message as one line on standard
// error and returns 1. It is raised before the run writes anything into the folder.
struct InputRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};
