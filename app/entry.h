#pragma once

// The whole program: argument, loaders, run. Returns the exit status.
int runProgram(int argc, char** argv);
