#include <exception>
#include <iostream>
#include <new>

#include "app/entry.h"
#include "util/error.h"

// The one place where errors end the program: each with its message on its stream and
// status 1, never with an abort.
int main(int argc, char** argv) {
    try {
        return runProgram(argc, argv);
    } catch (const FatalError& e) {
        std::cout << "\nERROR: " << e.what() << std::endl;
    } catch (const InputRefused& e) {
        std::cerr << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cout << std::flush;
        std::cerr << "\nERROR: out of memory\n";
    } catch (const std::exception& e) {
        std::cout << std::flush;
        std::cerr << "\nERROR: " << e.what() << "\n";
    }
    return 1;
}
