#include "platform/elevation.h"
#include "platform/winerror.h"

#include "tempdir.h"
#include "testprograms.h"

#include <doctest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <cstdlib>
#include <sys/stat.h>
#endif

using platform::ElevatedProcess;
using Words = std::vector<std::string>;

namespace {

// Polls every 10 ms until the process is no longer running; the number of Running answers
// seen is returned through `runningPolls`.
ElevatedProcess::State pollUntilEnd(ElevatedProcess &process, int &runningPolls)
{
    runningPolls = 0;
    for (int i = 0; i < 3000; ++i) {
        const ElevatedProcess::State state = process.poll();
        if (state != ElevatedProcess::State::Running)
            return state;
        ++runningPolls;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ElevatedProcess::State::Running;
}

Words readLines(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    Words lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string quoted(const std::string &path)
{
    return '"' + path + '"';
}

#ifndef _WIN32
// Sets SOLVIKVPN_ELEVATION for one test and restores the previous value afterwards.
class ElevationChoice
{
public:
    explicit ElevationChoice(const std::string &value)
    {
        if (const char *old = std::getenv("SOLVIKVPN_ELEVATION"))
            m_previous = old, m_hadPrevious = true;
        ::setenv("SOLVIKVPN_ELEVATION", value.c_str(), 1);
    }
    ~ElevationChoice()
    {
        if (m_hadPrevious)
            ::setenv("SOLVIKVPN_ELEVATION", m_previous.c_str(), 1);
        else
            ::unsetenv("SOLVIKVPN_ELEVATION");
    }

private:
    std::string m_previous;
    bool m_hadPrevious = false;
};

// A stand-in for pkexec: a shell script with the given body.
std::string writeElevator(const TempDir &directory, const std::string &body)
{
    const std::string path = directory.file("elevator");
    std::ofstream(path) << "#!/bin/sh\n" << body << '\n';
    ::chmod(path.c_str(), 0700);
    return path;
}
#endif

} // namespace

TEST_CASE("argument text splits as CommandLineToArgvW splits it")
{
    // On Windows the seam asks CommandLineToArgvW itself, so this table also holds the POSIX
    // splitter to the system's behaviour.
    struct Row
    {
        const char *name;
        std::string text;
        Words expected;
    };
    const std::vector<Row> rows{
        {"stop line", "--stop tnel_0123456789abcdef0123", {"--stop", "tnel_0123456789abcdef0123"}},
        {"install line with a quoted path holding spaces",
         R"(--install tnel_0123456789abcdef0123 "C:\Users\Ann Lee\AppData\t.vless.dpapi")",
         {"--install", "tnel_0123456789abcdef0123", R"(C:\Users\Ann Lee\AppData\t.vless.dpapi)"}},
        {"runs of blanks and tabs", "a  \t b\t", {"a", "b"}},
        {"empty text", "", {}},
        {"only blanks", "   ", {}},
        {"empty quoted argument", R"(a "" b)", {"a", "", "b"}},
        {"backslashes not before a quote are literal", R"(a\\b c\)", {R"(a\\b)", R"(c\)"}},
        {"odd backslashes escape the quote", R"(a\"b)", {R"(a"b)"}},
        {"even backslashes halve and the quote groups", R"(a\\"b c")", {R"(a\b c)"}},
        {"three backslashes give one and a literal quote", R"(a\\\"b)", {R"(a\"b)"}},
        {"quoted path ending in a doubled backslash", R"("C:\dir\\" x)", {R"(C:\dir\)", "x"}},
        {"quotes inside an argument", R"(ab"c d"ef)", {"abc def"}},
        {"a quote straight after a closing quote is literal", R"("a""b")", {R"(a"b)"}},
        {"unterminated quote runs to the end", R"("a b)", {"a b"}},
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        CHECK(platform::splitArgumentText(row.text) == row.expected);
    }
}

TEST_CASE("an elevated program is seen running, then its exit code and arguments arrive")
{
#ifndef _WIN32
    ElevationChoice direct("direct");
#endif
    TempDir directory;
    const std::string argumentsFile = directory.file("arguments.txt");
    struct Row
    {
        std::uint32_t code;
        int sleepMs;
    };
    // 1236 and 1223 do not fit an 8-bit POSIX status and must still come back whole.
    for (const Row row : {Row{0, 300}, Row{87, 0}, Row{1236, 300}, Row{1223, 0}}) {
        CAPTURE(row.code);
        ElevatedProcess process;
        const std::string text = std::to_string(row.sleepMs) + ' ' + std::to_string(row.code) +
                                 ' ' + quoted(argumentsFile) + R"( --install "with space" a\"b)";
        REQUIRE(process.start(testProgramPath("platform_elevationchild"), text) ==
                platform::winerror::success);
        CHECK(process.isOpen());
        int runningPolls = 0;
        REQUIRE(pollUntilEnd(process, runningPolls) == ElevatedProcess::State::Exited);
        if (row.sleepMs > 0)
            CHECK(runningPolls > 0);
        CHECK(process.exitCode() == row.code);
        CHECK(readLines(argumentsFile) == Words{"--install", "with space", R"(a"b)"});
        // Asking again after the end gives the same answer.
        CHECK(process.poll() == ElevatedProcess::State::Exited);
        CHECK(process.exitCode() == row.code);
        process.close();
        CHECK_FALSE(process.isOpen());
    }
}

TEST_CASE("a missing program fails to start with file-not-found")
{
#ifndef _WIN32
    ElevationChoice direct("direct");
#endif
    TempDir directory;
    ElevatedProcess process;
    CHECK(process.start(directory.file("no-such-program"), "--stop x") ==
          platform::winerror::fileNotFound);
    CHECK_FALSE(process.isOpen());
}

TEST_CASE("a running program can be released and the handle reused")
{
#ifndef _WIN32
    ElevationChoice direct("direct");
#endif
    ElevatedProcess process;
    REQUIRE(process.start(testProgramPath("platform_elevationchild"), "200 0") == 0);
    CHECK(process.start(testProgramPath("platform_elevationchild"), "0 0") ==
          platform::winerror::invalidParameter);
    process.close();
    CHECK_FALSE(process.isOpen());
    REQUIRE(process.start(testProgramPath("platform_elevationchild"), "0 5") == 0);
    int runningPolls = 0;
    CHECK(pollUntilEnd(process, runningPolls) == ElevatedProcess::State::Exited);
    CHECK(process.exitCode() == platform::winerror::accessDenied);
}

#ifndef _WIN32
TEST_CASE("the elevator's own refusals map to Windows error numbers")
{
    TempDir directory;
    struct Row
    {
        const char *name;
        std::string body;
        ElevatedProcess::State state;
        std::uint32_t code;
    };
    const std::vector<Row> rows{
        {"dismissed prompt", "exit 126", ElevatedProcess::State::ElevationRefused,
         platform::winerror::cancelled},
        {"not authorised", "exit 127", ElevatedProcess::State::ElevationRefused,
         platform::winerror::accessDenied},
        {"granted: the program's own code passes", R"(exec "$@")", ElevatedProcess::State::Exited,
         platform::winerror::connectionAborted},
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        ElevationChoice elevator(writeElevator(directory, row.body));
        ElevatedProcess process;
        REQUIRE(process.start(testProgramPath("platform_elevationchild"), "0 1236") == 0);
        int runningPolls = 0;
        CHECK(pollUntilEnd(process, runningPolls) == row.state);
        CHECK(process.exitCode() == row.code);
    }
}

TEST_CASE("the program started directly may itself exit 126 without being taken for a refusal")
{
    ElevationChoice direct("direct");
    ElevatedProcess process;
    REQUIRE(process.start(testProgramPath("platform_elevationchild"), "0 126") == 0);
    int runningPolls = 0;
    CHECK(pollUntilEnd(process, runningPolls) == ElevatedProcess::State::Exited);
    CHECK(process.exitCode() == 126);
}

TEST_CASE("relative programs and elevators are refused before anything runs")
{
    {
        ElevationChoice direct("direct");
        ElevatedProcess process;
        CHECK(process.start("relative/program", "") == platform::winerror::invalidParameter);
    }
    ElevationChoice relative("pkexec");
    ElevatedProcess process;
    CHECK(process.start(testProgramPath("platform_elevationchild"), "0 0") ==
          platform::winerror::invalidParameter);
}
#endif
