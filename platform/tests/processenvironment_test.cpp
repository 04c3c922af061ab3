#include "platform/processenvironment.h"

#include <doctest.h>

#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#else
#include <unistd.h>
#endif

namespace {

void set(const char *name, const char *value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    ::setenv(name, value, 1);
#endif
}

bool isSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

} // namespace

TEST_CASE("the privileged programs keep nothing of the environment they were given")
{
    // Variables that pick code or change what a library does, as a user could set them.
    const char *planted[] = {"QT_PLUGIN_PATH",
                             "QT_QPA_PLATFORM_PLUGIN_PATH",
                             "QT_LOGGING_RULES",
                             "OPENSSL_CONF",
                             "OPENSSL_MODULES",
                             "SSL_CERT_FILE",
                             "LD_PRELOAD",
                             "HOME",
                             "TMPDIR"};
    for (const char *name : planted)
        set(name, "/planted");
    set("PKEXEC_UID", "65534");
    set("PATH", "/planted/bin");
    set("SOLVIKVPN_STUB_SILENT", "1");

    platform::restrictProcessEnvironment();

    for (const char *name : planted) {
        CAPTURE(name);
        CHECK_FALSE(isSet(name));
    }
    // The test builds keep the variables that steer the test doubles.
    CHECK(isSet("SOLVIKVPN_STUB_SILENT"));
#ifdef _WIN32
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    REQUIRE(length > 0);
    const std::string expected(windows, windows + length);
    REQUIRE(isSet("SystemRoot"));
    CHECK(std::string(std::getenv("SystemRoot")) == expected);
    CHECK(std::string(std::getenv("PATH")).rfind(expected + "\\System32", 0) == 0);
    // Winsock needs SystemRoot; a socket still works.
    WSADATA data;
    CHECK(WSAStartup(MAKEWORD(2, 2), &data) == 0);
    WSACleanup();
    // Wine knows the account only from WINEUSERNAME, and its DPAPI needs the name: the test
    // builds keep it, so the tunnel program under Wine still reads the client's files.
    char account[256];
    DWORD size = sizeof account;
    CHECK(GetUserNameA(account, &size));
    CHECK(platform::requestingAccount().empty());
#else
    CHECK(std::string(std::getenv("PATH")) == "/usr/sbin:/usr/bin:/sbin:/bin");
    // Who asked pkexec outlives the cleared variable.
    CHECK_FALSE(isSet("PKEXEC_UID"));
    CHECK(platform::requestingAccount() ==
          (::getuid() == 0 ? "65534" : std::to_string(::getuid())));
#endif
}
