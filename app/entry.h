#pragma once

// The whole program: argument, loaders, run. Returns the exit status.
int runProgram(int argc, char** argv);

// Every subsystem back to its state at program start; for tests and harnesses that run the
// loaders or the engine many times in one process.
void resetProgramState();
