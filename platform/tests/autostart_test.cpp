#include "platform/autostart.h"

#include <doctest.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include "platform/win32/widetext.h"

#include <windows.h>
#else
#include "tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#endif

namespace {

struct Registration
{
    std::string program;
    // As the system keeps it: the Run value's data, or the entry's Exec value.
    std::string command;
    std::string started;
};

#ifdef _WIN32

constexpr wchar_t runKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t neighbour[] = L"SolvikVPN-test-neighbour";

std::optional<std::pair<DWORD, std::vector<BYTE>>> readValue(const wchar_t *name, DWORD flags)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, runKey, name, flags, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(size);
    if (RegGetValueW(HKEY_CURRENT_USER, runKey, name, flags, &type, data.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return std::pair(type, data);
}

// REG_SZ only: Explorer would expand a REG_EXPAND_SZ value.
std::optional<std::string> storedCommand()
{
    const auto value = readValue(L"SolvikVPN", RRF_RT_REG_SZ | RRF_NOEXPAND);
    if (!value)
        return std::nullopt;
    return platform::win32::toUtf8(reinterpret_cast<const wchar_t *>(value->second.data()));
}

// Works on the real HKEY_CURRENT_USER and gives the user back the value and the key as they were.
struct Sandbox
{
    Sandbox()
    {
        HKEY key = nullptr;
        keyExisted = RegOpenKeyExW(HKEY_CURRENT_USER, runKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (keyExisted)
            RegCloseKey(key);
    }
    ~Sandbox()
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, runKey, neighbour);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, runKey, L"SolvikVPN");
        if (saved)
            RegSetKeyValueW(HKEY_CURRENT_USER, runKey, L"SolvikVPN", saved->first,
                            saved->second.data(), static_cast<DWORD>(saved->second.size()));
        if (!keyExisted)
            RegDeleteKeyW(HKEY_CURRENT_USER, runKey);
    }
    void addNeighbour() const
    {
        const wchar_t data[] = L"C:\\Other\\other.exe";
        REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, runKey, neighbour, REG_SZ, data, sizeof data) ==
                ERROR_SUCCESS);
    }
    bool neighbourKept() const { return readValue(neighbour, RRF_RT_REG_SZ).has_value(); }

    bool keyExisted = false;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> saved =
        readValue(L"SolvikVPN", RRF_RT_ANY | RRF_NOEXPAND);
};

const std::string root = "C:\\";

const Registration registrations[] = {
    {"C:/Program Files/Solvik VPN/solvikvpn.exe",
     R"("C:\Program Files\Solvik VPN\solvikvpn.exe" --hidden)",
     R"(C:\Program Files\Solvik VPN\solvikvpn.exe)"},
    {R"(\\server\apps\solvikvpn.exe)", R"("\\server\apps\solvikvpn.exe" --hidden)",
     R"(\\server\apps\solvikvpn.exe)"},
    {"D:\\Jörg's Программы\\100% $x\\vpn.exe",
     "\"D:\\Jörg's Программы\\100% $x\\vpn.exe\" --hidden",
     "D:\\Jörg's Программы\\100% $x\\vpn.exe"},
};

#else

// An environment variable set for the scope of a test; no value unsets it.
class ScopedVariable
{
public:
    ScopedVariable(const char *name, const std::optional<std::string> &value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_saved = old;
        set(value);
    }
    ~ScopedVariable() { set(m_saved); }

private:
    void set(const std::optional<std::string> &value)
    {
        REQUIRE((value ? ::setenv(m_name, value->c_str(), 1) : ::unsetenv(m_name)) == 0);
    }
    const char *m_name;
    std::optional<std::string> m_saved;
};

struct Sandbox
{
    std::string autostart(const std::string &name = {}) const
    {
        return dir.file("config/autostart/" + name);
    }
    void addNeighbour() const { writeRaw(autostart("other.desktop"), bytesOf("[Desktop Entry]")); }
    bool neighbourKept() const { return exists(autostart("other.desktop")); }

    TempDir dir;
    ScopedVariable config{"XDG_CONFIG_HOME", dir.file("config")};
    ScopedVariable home{"HOME", dir.file("home")};
};

std::string readText(const std::string &path)
{
    const std::vector<std::uint8_t> bytes = readRaw(path);
    return {bytes.begin(), bytes.end()};
}

std::optional<std::string> storedCommand()
{
    const std::string entry =
        readText(std::string(std::getenv("XDG_CONFIG_HOME")) + "/autostart/solvikvpn.desktop");
    const std::size_t exec = entry.find("\nExec=");
    if (exec == std::string::npos)
        return std::nullopt;
    return entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6);
}

const std::string root = "/";

// Written by hand: quoting puts a backslash before " ` $ \ and doubles %, then the file's string
// escapes double every backslash once more.
const Registration registrations[] = {
    {"/opt/Solvik VPN/solvikvpn", R"("/opt/Solvik VPN/solvikvpn" --hidden)",
     "/opt/Solvik VPN/solvikvpn"},
    {R"(/opt/it's "odd"/$HOME`vpn`/back\slash/100%)",
     R"("/opt/it's \\"odd\\"/\\$HOME\\`vpn\\`/back\\\\slash/100%%" --hidden)",
     R"(/opt/it's "odd"/$HOME`vpn`/back\slash/100%)"},
    {"/home/jörg/Программы/солвик впн", "\"/home/jörg/Программы/солвик впн\" --hidden",
     "/home/jörg/Программы/солвик впн"},
};

#endif

} // namespace

TEST_CASE("a registration names the program with --hidden and is removed on its own")
{
    const Sandbox sandbox;
    REQUIRE(platform::unregisterStartAtLogin());
    CHECK_FALSE(platform::isStartAtLoginRegistered());
    for (const Registration &row : registrations) {
        CAPTURE(row.program);
        REQUIRE(platform::registerStartAtLogin(row.program));
        CHECK(storedCommand() == row.command);
        CHECK(platform::registeredStartAtLoginProgram() == row.started);
    }
    // A refused path leaves the earlier registration as it was.
    std::vector<std::string> refused = {"", "relative/solvikvpn", root + "bad\xff/vpn",
                                        root + "two\nlines"};
#ifdef _WIN32
    refused.push_back(R"(C:\Program "Files"\solvikvpn.exe)");
#endif
    for (const std::string &program : refused) {
        CAPTURE(program);
        CHECK_FALSE(platform::registerStartAtLogin(program));
        CHECK(storedCommand() == registrations[std::size(registrations) - 1].command);
    }

    sandbox.addNeighbour();
    CHECK(platform::unregisterStartAtLogin());
    CHECK_FALSE(storedCommand().has_value());
    CHECK_FALSE(platform::isStartAtLoginRegistered());
    CHECK(sandbox.neighbourKept());
    CHECK(platform::unregisterStartAtLogin());
}

#ifndef _WIN32

TEST_CASE("the entry is complete, readable by all, in folders of the user, found via HOME too")
{
    const Sandbox sandbox;
    // New folders stay private under a lax umask; a strict one must not hide the entry.
    const mode_t previous = ::umask(0);
    const bool created = platform::registerStartAtLogin("/usr/bin/solvikvpn");
    ::umask(077);
    const bool replaced = platform::registerStartAtLogin("/usr/bin/solvikvpn");
    ::umask(previous);
    REQUIRE((created && replaced));

    const std::string entry = readText(sandbox.autostart("solvikvpn.desktop"));
    CHECK(entry.starts_with("[Desktop Entry]\n"));
    for (const char *line : {"\nType=Application\n", "\nName=Solvik VPN\n",
                             "\nX-GNOME-Autostart-enabled=true\n", "\nTerminal=false\n"})
        CHECK(entry.find(line) != std::string::npos);
    struct stat file, folder, config;
    REQUIRE(::lstat(sandbox.autostart("solvikvpn.desktop").c_str(), &file) == 0);
    REQUIRE(::lstat(sandbox.autostart().c_str(), &folder) == 0);
    REQUIRE(::lstat(sandbox.dir.file("config").c_str(), &config) == 0);
    CHECK((file.st_mode & 07777) == 0644);
    CHECK((folder.st_mode & 07777) == 0700);
    CHECK((config.st_mode & 07777) == 0700);
    // Nothing left over from the atomic write.
    CHECK(std::distance(std::filesystem::directory_iterator(sandbox.autostart()), {}) == 1);

    const std::optional<std::string> unusable[] = {std::nullopt, "", "relative/config"};
    for (const std::optional<std::string> &config : unusable) {
        const ScopedVariable variable("XDG_CONFIG_HOME", config);
        REQUIRE(platform::registerStartAtLogin("/usr/bin/solvikvpn"));
        CHECK(exists(sandbox.dir.file("home/.config/autostart/solvikvpn.desktop")));
        CHECK(platform::unregisterStartAtLogin());
        CHECK_FALSE(exists(sandbox.dir.file("home/.config/autostart/solvikvpn.desktop")));
    }
}

TEST_CASE("links at the entry's names are replaced or removed, never followed")
{
    const Sandbox sandbox;
    const std::string victim = sandbox.dir.file("victim.desktop");
    writeRaw(victim, bytesOf("[Desktop Entry]\nExec=/usr/bin/victim\n"));
    const std::string entry = sandbox.autostart("solvikvpn.desktop");
    std::filesystem::create_directories(sandbox.autostart());

    std::filesystem::create_symlink(victim, entry);
    CHECK_FALSE(platform::isStartAtLoginRegistered());
    CHECK(platform::unregisterStartAtLogin());
    CHECK_FALSE(std::filesystem::is_symlink(entry));
    // At the entry, at its temporary name, and dangling (which would create its target).
    for (const auto &[link, target] : {std::pair(entry, victim), std::pair(entry + ".tmp", victim),
                                       std::pair(entry, sandbox.dir.file("made"))}) {
        CAPTURE(link);
        std::filesystem::create_symlink(target, link);
        REQUIRE(platform::registerStartAtLogin("/usr/bin/solvikvpn"));
        CHECK(platform::registeredStartAtLoginProgram() == "/usr/bin/solvikvpn");
        CHECK(platform::unregisterStartAtLogin());
    }
    CHECK(readText(victim) == "[Desktop Entry]\nExec=/usr/bin/victim\n");
    CHECK_FALSE(exists(sandbox.dir.file("made")));
}

TEST_CASE("an entry written by someone else starts its Exec program unless switched off")
{
    const Sandbox sandbox;
    std::filesystem::create_directories(sandbox.autostart());
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"Exec = /usr/bin/solvikvpn --hidden", "/usr/bin/solvikvpn"},
        {R"(Exec="/opt/a\sb/vpn")", "/opt/a b/vpn"},
        {"Exec=/opt/vpn\nHidden=true", std::nullopt},
        {"X-GNOME-Autostart-enabled=false\nExec=/opt/vpn", std::nullopt},
        {"#Exec=/opt/vpn\nExec[de]=/opt/vpn\n[Desktop Action Quit]\nExec=/opt/vpn", std::nullopt},
        {"Exec=\"/opt/unterminated --hidden", std::nullopt},
        {"Exec=/opt/%f", std::nullopt},
        {"Exec=/opt/\\q", std::nullopt},
    };
    for (const auto &[keys, program] : rows) {
        CAPTURE(keys);
        writeRaw(sandbox.autostart("solvikvpn.desktop"), bytesOf("[Desktop Entry]\n" + keys));
        CHECK(platform::registeredStartAtLoginProgram() == program);
    }
}

#endif
