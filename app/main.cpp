#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>

#include "app/entry.h"
#include "util/error.h"
#include "util/format.h"

// The loaders' progress lines leave their colour on; after an error the terminal would stay
// in it once the program has gone.
static void endColour() { std::cout << RESET << std::flush; }

// The one place where errors end the program: each with its message on its stream and
// status 1, never with an abort.
int main(int argc, char** argv) {
    if (const char* noColour = std::getenv("NO_COLOR"); noColour != nullptr && *noColour != '\0') disableColours();
    try {
        return runProgram(argc, argv);
    } catch (const FatalError& e) {
        endColour();
        std::cout << "\nERROR: " << e.what() << std::endl;
    } catch (const InputRefused& e) {
        endColour();
        std::cerr << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        endColour();
        std::cerr << "\nERROR: out of memory\n";
    } catch (const std::exception& e) {
        endColour();
        std::cerr << "\nERROR: " << e.what() << "\n";
    }
    return 1;
}
