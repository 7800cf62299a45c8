#include <exception>
#include <iostream>
#include <new>

#include "app/entry.h"

int main(int argc, char** argv) {
    // Errors raised deep in the run (an output file that cannot be written, memory
    // exhausted) end the program with a message and status 1, never with an abort.
    try {
        return runProgram(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cout << std::flush;
        std::cerr << "\nERROR: out of memory\n";
    } catch (const std::exception& e) {
        std::cout << std::flush;
        std::cerr << "\nERROR: " << e.what() << "\n";
    }
    return 1;
}
