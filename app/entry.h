#pragma once

// The whole program: argument, loaders, run. Returns the exit status; errors reach main as
// FatalError, InputRefused or another exception.
int runProgram(int argc, char** argv);

// Every input of solutionFolder for the mode that config.json names. Throws InputRefused
// (or FatalError for gravity without walls) for an input the run cannot start from.
void loadInputs();

// Every subsystem back to its state at program start; for tests and harnesses that run the
// loaders or the engine many times in one process.
void resetProgramState();

// The program's version, as --version prints it.
const char* programVersion();
