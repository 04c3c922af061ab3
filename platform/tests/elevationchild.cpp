// A program for the elevation tests: elevationchild <milliseconds> <exit code> [<file> <args...>]
// sleeps, writes the arguments after <file> into <file> one per line (to show how the argument
// text arrived), then exits with the Windows error number <exit code>.
#include "platform/exitstatus.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[1])));
    if (argc > 3) {
        std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
        for (int i = 4; i < argc; ++i)
            out << argv[i] << '\n';
    }
    return platform::toExitStatus(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)));
}
