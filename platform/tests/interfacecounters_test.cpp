#include "platform/interfacecounters.h"
#include "testsocket.h"

#include <doctest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32/widetext.h"

#include <winsock2.h>
#include <ws2ipdef.h>

// Declares the interface row calls only when the two above came first.
#include <iphlpapi.h>
#else
#include "platform/posix/sysfscounters.h"
#include "tempdir.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// The loopback interface as the system itself names and identifies it, independent of the code
// under test.
struct Loopback
{
    std::string alias;
    std::uint64_t identifier = 0;
    bool up = false;
    // Traffic sent to ourselves shows in its byte counters.
    bool countsTraffic = false;
};

#ifdef _WIN32

bool runningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Wine names loopback after the Linux device ("lo", where Windows says "Loopback
// Pseudo-Interface 1") and passes Linux's counters through, so it counts loopback traffic;
// Windows' loopback pseudo-interface reports no traffic.
std::optional<Loopback> findLoopback()
{
    MIB_IF_TABLE2 *table = nullptr;
    if (GetIfTable2(&table) != NO_ERROR)
        return std::nullopt;
    std::optional<Loopback> found;
    for (ULONG i = 0; i < table->NumEntries && !found; ++i) {
        const MIB_IF_ROW2 &row = table->Table[i];
        if (row.Type == IF_TYPE_SOFTWARE_LOOPBACK)
            found = Loopback{platform::win32::toUtf8(row.Alias), row.InterfaceLuid.Value,
                             row.OperStatus == IfOperStatusUp, runningUnderWine()};
    }
    FreeMibTable(table);
    return found;
}

#else

std::optional<Loopback> findLoopback()
{
    const unsigned index = ::if_nametoindex("lo");
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    const bool gotFlags = probe >= 0 && ::ioctl(probe, SIOCGIFFLAGS, &request) == 0;
    if (probe >= 0)
        ::close(probe);
    if (index == 0 || !gotFlags)
        return std::nullopt;
    // IFF_RUNNING is the kernel's own "operationally up or unknown with carrier".
    return Loopback{"lo", index, (request.ifr_flags & IFF_RUNNING) != 0, true};
}

#endif

// Sends `count` datagrams of `size` bytes to ourselves over loopback; false if any was not sent.
bool sendOverLoopback(int count, int size)
{
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
#endif
    const Socket receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    const Socket sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    AddressLength length = sizeof address;
    bool sent = ::bind(receiver, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
                ::getsockname(receiver, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    const std::vector<char> payload(static_cast<std::size_t>(size), 'x');
    for (int i = 0; sent && i < count; ++i)
        sent = ::sendto(sender, payload.data(), size, 0, reinterpret_cast<sockaddr *>(&address),
                        length) == size;
    closesocket(sender);
    closesocket(receiver);
#ifdef _WIN32
    WSACleanup();
#endif
    return sent;
}

} // namespace

TEST_CASE("an alias that no interface has gives nothing")
{
    CHECK_FALSE(platform::readInterfaceCounters("SolvikVPN-absent").has_value());
    CHECK_FALSE(platform::readInterfaceCounters("").has_value());
    CHECK_FALSE(platform::readInterfaceCounters("\xff\xfe").has_value());
}

TEST_CASE("the loopback interface is found under its alias and counts traffic through it")
{
    const std::optional<Loopback> loopback = findLoopback();
    REQUIRE(loopback.has_value());
    CAPTURE(loopback->alias);
    const std::optional<platform::InterfaceCounters> before =
        platform::readInterfaceCounters(loopback->alias);
    REQUIRE(before.has_value());
    CHECK(before->identifier == loopback->identifier);
    CHECK(before->up == loopback->up);
    // The system calls take C strings: a NUL must not shorten the alias to the loopback's.
    CHECK_FALSE(
        platform::readInterfaceCounters(loopback->alias + std::string(1, '\0') + "x").has_value());

    constexpr int count = 4;
    constexpr int size = 1000;
    REQUIRE(sendOverLoopback(count, size));
    const std::optional<platform::InterfaceCounters> after =
        platform::readInterfaceCounters(loopback->alias);
    REQUIRE(after.has_value());
    CHECK(after->identifier == before->identifier);
    // Others may use loopback at the same time, so only a lower bound holds.
    const std::uint64_t sent = loopback->countsTraffic ? count * size : 0;
    CHECK(after->receivedOctets >= before->receivedOctets + sent);
    CHECK(after->sentOctets >= before->sentOctets + sent);
}

#ifndef _WIN32

namespace {

// Relative path of an attribute -> its content; no value leaves the file out.
using Files = std::map<std::string, std::optional<std::string>>;

Files interfaceFiles(const Files &changes = {})
{
    Files files = {{"ifindex", "7\n"},
                   {"operstate", "up\n"},
                   {"carrier", "1\n"},
                   {"statistics/rx_bytes", "1234\n"},
                   {"statistics/tx_bytes", "5678\n"}};
    for (const auto &[name, content] : changes)
        files[name] = content;
    return files;
}

void writeFiles(const std::filesystem::path &folder, const Files &files)
{
    for (const auto &[name, content] : files) {
        if (!content)
            continue;
        std::filesystem::create_directories((folder / name).parent_path());
        writeRaw((folder / name).string(), bytesOf(*content));
    }
}

// Like /sys/class/net: <root>/net/<alias> is a link to <root>/devices/<alias>.
void addInterface(const TempDir &root, const std::string &alias, const Files &files)
{
    writeFiles(root.file("devices/" + alias), files);
    std::filesystem::create_directories(root.file("net"));
    std::filesystem::create_directory_symlink("../devices/" + alias, root.file("net/" + alias));
}

struct Expected
{
    std::uint64_t identifier;
    bool up;
    std::uint64_t received;
    std::uint64_t sent;
};

void checkReading(const std::optional<platform::InterfaceCounters> &reading,
                  const std::optional<Expected> &expected)
{
    REQUIRE(reading.has_value() == expected.has_value());
    if (!expected)
        return;
    CHECK(reading->identifier == expected->identifier);
    CHECK(reading->up == expected->up);
    CHECK(reading->receivedOctets == expected->received);
    CHECK(reading->sentOctets == expected->sent);
}

} // namespace

TEST_CASE("sysfs attributes give the counters only when every one of them is clean")
{
    constexpr std::uint64_t max = UINT64_MAX;
    struct Row
    {
        std::string alias;
        Files changes;
        std::optional<Expected> expected;
    };
    const Row rows[] = {
        {"up", {}, Expected{7, true, 1234, 5678}},
        {"tun-carrier", {{"operstate", "unknown\n"}}, Expected{7, true, 1234, 5678}},
        {"tun-nocarrier",
         {{"operstate", "unknown\n"}, {"carrier", "0\n"}},
         Expected{7, false, 1234, 5678}},
        {"tun-nofile",
         {{"operstate", "unknown\n"}, {"carrier", {}}},
         Expected{7, false, 1234, 5678}},
        {"tun-badcarrier",
         {{"operstate", "unknown\n"}, {"carrier", "yes\n"}},
         Expected{7, false, 1234, 5678}},
        {"down", {{"operstate", "down\n"}}, Expected{7, false, 1234, 5678}},
        {"dormant", {{"operstate", "dormant\n"}}, Expected{7, false, 1234, 5678}},
        {"upper", {{"operstate", "UP\n"}}, Expected{7, false, 1234, 5678}},
        {"no-newline",
         {{"ifindex", "42"}, {"statistics/rx_bytes", "0"}},
         Expected{42, true, 0, 5678}},
        {"largest",
         {{"statistics/rx_bytes", "18446744073709551615\n"},
          {"statistics/tx_bytes", "18446744073709551614\n"}},
         Expected{7, true, max, max - 1}},
        {"overflow", {{"statistics/tx_bytes", "18446744073709551616\n"}}, std::nullopt},
        {"no-statistics", {{"statistics/rx_bytes", {}}, {"statistics/tx_bytes", {}}}, std::nullopt},
        {"no-tx", {{"statistics/tx_bytes", {}}}, std::nullopt},
        {"no-ifindex", {{"ifindex", {}}}, std::nullopt},
        {"no-operstate", {{"operstate", {}}}, std::nullopt},
        {"empty-number", {{"statistics/rx_bytes", ""}}, std::nullopt},
        {"negative", {{"statistics/rx_bytes", "-1\n"}}, std::nullopt},
        {"plus-sign", {{"statistics/rx_bytes", "+1\n"}}, std::nullopt},
        {"blank-before", {{"statistics/tx_bytes", " 1\n"}}, std::nullopt},
        {"trailing-text", {{"statistics/tx_bytes", "12kB\n"}}, std::nullopt},
        {"two-newlines", {{"statistics/tx_bytes", "12\n\n"}}, std::nullopt},
        {"hexadecimal", {{"ifindex", "0x7\n"}}, std::nullopt},
        {"fraction", {{"ifindex", "7.5\n"}}, std::nullopt},
    };
    TempDir root;
    for (const Row &row : rows)
        addInterface(root, row.alias, interfaceFiles(row.changes));
    for (const Row &row : rows) {
        CAPTURE(row.alias);
        checkReading(platform::posix::readSysfsCounters(root.file("net"), row.alias), row.expected);
    }
}

TEST_CASE("an alias reaches nothing but the folder of that name")
{
    TempDir root;
    // Complete interfaces wherever a careless join of root and alias would land.
    writeFiles(root.file("net"), interfaceFiles());
    writeFiles(root.path(), interfaceFiles());
    writeFiles(root.file("x"), interfaceFiles());
    writeFiles(root.file("net/a/b"), interfaceFiles());
    addInterface(root, "lo", interfaceFiles());
    // The kernel's limit is 15 bytes.
    addInterface(root, "fifteen-chars-1", interfaceFiles());
    addInterface(root, "sixteen-chars-12", interfaceFiles());
    // Below the alias folder no link is followed, even to a complete statistics folder.
    addInterface(root, "linked",
                 interfaceFiles({{"statistics/rx_bytes", {}}, {"statistics/tx_bytes", {}}}));
    std::filesystem::create_directory_symlink("../lo/statistics",
                                              root.file("devices/linked/statistics"));

    for (const std::string &alias :
         {std::string(), std::string("."), std::string(".."), std::string("../x"),
          std::string("a/b"), std::string("lo/"), std::string("lo\0x", 4),
          std::string("sixteen-chars-12"), std::string("linked")}) {
        CAPTURE(alias);
        CHECK_FALSE(platform::posix::readSysfsCounters(root.file("net"), alias).has_value());
    }
    CHECK(platform::posix::readSysfsCounters(root.file("net"), "lo").has_value());
    CHECK(platform::posix::readSysfsCounters(root.file("net"), "fifteen-chars-1").has_value());
}

#endif
