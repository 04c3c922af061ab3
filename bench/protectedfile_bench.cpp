// Prints the average time to write and to read a protected file of 1 KiB and of 1 MiB.

#include "platform/crypto.h"
#include "platform/protectedfile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start, int iterations)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / iterations;
}

void measure(const std::string &path, std::size_t size, int iterations)
{
    std::vector<std::uint8_t> plain(size);
    platform::randomBytes(plain.data(), plain.size());

    const Clock::time_point writeStart = Clock::now();
    for (int i = 0; i < iterations; ++i) {
        if (!platform::writeProtectedFileAtomically(path, plain, "SolvikVPN", false, {})) {
            std::printf("write of %zu bytes failed\n", size);
            return;
        }
    }
    const double write = millisecondsSince(writeStart, iterations);

    std::size_t readBack = 0;
    const Clock::time_point readStart = Clock::now();
    for (int i = 0; i < iterations; ++i)
        readBack += platform::readProtectedFile(path).size();
    const double read = millisecondsSince(readStart, iterations);

    std::printf("%8zu bytes: write %8.3f ms, read %8.3f ms (average of %d%s)\n", size, write, read,
                iterations, readBack == size * iterations ? "" : ", READ FAILED");
}

} // namespace

int main()
{
    // The user key lives in a scratch configuration directory, not in the account's real one.
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / "solvikvpn-protectedfile-bench";
    std::filesystem::create_directories(scratch);
    setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);

    const std::string path = (scratch / "bench.dpapi").string();
    measure(path, 1024, 200);
    // The largest plaintext whose file still fits the 1 MiB read limit, blob overhead included.
    measure(path, 1024 * 1024 - 64, 20);
    std::filesystem::remove_all(scratch);
    return 0;
}
