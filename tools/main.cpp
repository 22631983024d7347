#include <exception>
#include <iostream>

#include "nubiloTool.h"

int main(int argc, char** argv) {
    try {
        return runNubilo(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "nubilo: " << error.what() << "\n";
        return exitUsage;
    }
}
