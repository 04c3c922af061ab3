#include "platform/exitstatus.h"
#include "platform/supervisedprocess.h"
#include "platform/winerror.h"
#include "testprograms.h"

#include <doctest.h>

#include <string>
#include <thread>

using platform::fromExitStatus;
using platform::toExitStatus;
namespace winerror = platform::winerror;

TEST_CASE("every number the programs report survives the trip through an exit status")
{
    const std::uint32_t codes[] = {
        winerror::success,
        winerror::fileNotFound,
        winerror::accessDenied,
        winerror::invalidData,
        winerror::invalidParameter,
        winerror::serviceRequestTimeout,
        winerror::serviceDoesNotExist,
        winerror::serviceNotActive,
        winerror::failedServiceControllerConnect,
        winerror::processAborted,
        winerror::serviceMarkedForDelete,
        winerror::serviceExists,
        winerror::duplicateServiceName,
        winerror::serviceDependencyFailed,
        winerror::cancelled,
        winerror::connectionAborted,
    };
    for (const std::uint32_t code : codes) {
        CAPTURE(code);
        const int status = toExitStatus(code);
#ifdef _WIN32
        CHECK(static_cast<std::uint32_t>(status) == code);
#else
        CHECK(status >= 0);
        CHECK(status <= 255);
#endif
        CHECK(fromExitStatus(status) == code);
    }
}

TEST_CASE("small numbers pass unchanged and distinct numbers stay distinct")
{
    CHECK(toExitStatus(1) == 1);
    CHECK(toExitStatus(87) == 87);
    CHECK(fromExitStatus(13) == 13);
    CHECK(toExitStatus(winerror::serviceNotActive) != toExitStatus(winerror::connectionAborted));
#ifndef _WIN32
    // A number outside the carried set must not pose as a known one.
    CHECK(fromExitStatus(toExitStatus(40000)) == 255);
#endif
}

TEST_CASE("a child exiting with a carried status is read back as the Windows number")
{
    platform::SupervisedProcess process;
    const std::string status = std::to_string(toExitStatus(winerror::connectionAborted));
    REQUIRE(process.start(testProgramPath("platform_testchild"), {"echo", status}, {}) ==
            winerror::success);
    std::thread reader([&] {
        char buffer[256];
        while (process.readOutput(buffer, sizeof buffer) != 0) {
        }
    });
    process.closeInput();
    CHECK(process.wait(10000) == platform::SupervisedProcess::WaitResult::Exited);
    reader.join();
    CHECK(fromExitStatus(static_cast<int>(process.exitCode())) == winerror::connectionAborted);
}
