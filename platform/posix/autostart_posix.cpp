// POSIX half: an XDG autostart entry, which the desktop session (GNOME, KDE, Xfce, ...) starts
// when the user signs in.

#include "platform/autostart.h"

#include "platform/posix/fileio.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using posix::UniqueFd;

constexpr std::size_t entryLimit = 64 * 1024;

// Relative values of XDG_CONFIG_HOME are to be ignored, as if it were unset. Empty when no
// absolute folder can be found.
std::string autostartFolder()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/autostart";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/autostart";
    return {};
}

std::string entryPath(const std::string &folder)
{
    return folder + "/solvikvpn.desktop";
}

bool makeFolders(const std::string &folder)
{
    for (std::size_t at = folder.find('/', 1); at != std::string::npos;
         at = folder.find('/', at + 1))
        if (::mkdir(folder.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    struct stat info
    {
    };
    return (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) &&
           ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Desktop entries must be UTF-8; a session skips a file that is not.
bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // C0, C1 and F5 upwards only ever start overlong or out-of-range sequences.
        const std::size_t length = lead >= 0xC2 && lead < 0xE0   ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        if (length == 0 || text.size() - i < length)
            return false;
        char32_t code = lead & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code < 0xE000))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

bool isValidProgram(const std::string &program)
{
    for (const char c : program)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return !program.empty() && program[0] == '/' && isUtf8(program);
}

// The Exec value: the program as one quoted argument (", `, $ and \ take a backslash, % is
// doubled so that it is no field code), then every backslash doubled again because the file's
// string escapes are undone before the quoting is. GLib (2.74) looks the program up before it
// undoes "%%", so GNOME skips an entry whose program path holds a "%"; other sessions follow the
// rule, and no other spelling of "%" works in GLib either.
std::string execValue(const std::string &program)
{
    std::string quoted = "\"";
    for (const char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        else if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += "\" --hidden";
    std::string value;
    for (const char c : quoted) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

// Undoes the string escapes of a value; nothing for an unknown escape.
std::optional<std::string> unescapeValue(std::string_view value)
{
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            plain += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i]) {
        case 's':
            plain += ' ';
            break;
        case 'n':
            plain += '\n';
            break;
        case 't':
            plain += '\t';
            break;
        case 'r':
            plain += '\r';
            break;
        case '\\':
            plain += '\\';
            break;
        default:
            return std::nullopt;
        }
    }
    return plain;
}

// The program of an Exec value: its first argument, unquoted, with "%%" as "%". Nothing when the
// quoting is broken, the program is empty or it holds a field code.
std::optional<std::string> programOfExec(std::string_view value)
{
    const std::optional<std::string> exec = unescapeValue(value);
    if (!exec)
        return std::nullopt;
    std::string argument;
    if (exec->starts_with('"')) {
        std::size_t i = 1;
        for (; i < exec->size() && (*exec)[i] != '"'; ++i) {
            if ((*exec)[i] == '\\' && i + 1 < exec->size() &&
                std::string_view("\"`$\\").find((*exec)[i + 1]) != std::string_view::npos)
                ++i;
            argument += (*exec)[i];
        }
        if (i == exec->size())
            return std::nullopt;
    } else {
        argument = exec->substr(0, exec->find(' '));
    }
    std::string program;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        if (argument[i] == '%') {
            if (i + 1 == argument.size() || argument[i + 1] != '%')
                return std::nullopt;
            ++i;
        }
        program += argument[i];
    }
    if (program.empty())
        return std::nullopt;
    return program;
}

// The program an entry starts: the Exec key of its [Desktop Entry] group, unless the entry is
// switched off.
std::optional<std::string> programOfEntry(std::string_view entry)
{
    bool inMainGroup = false;
    bool switchedOff = false;
    std::optional<std::string_view> exec;
    while (!entry.empty()) {
        const std::size_t end = std::min(entry.find('\n'), entry.size());
        const std::string_view line = entry.substr(0, end);
        entry.remove_prefix(std::min(end + 1, entry.size()));
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inMainGroup || line.starts_with('#') || equals == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        key.remove_suffix(key.size() - std::min(key.size(), key.find_last_not_of(' ') + 1));
        value.remove_prefix(std::min(value.size(), value.find_first_not_of(' ')));
        if (key == "Exec")
            exec = value;
        else if ((key == "Hidden" && value == "true") ||
                 (key == "X-GNOME-Autostart-enabled" && value == "false"))
            switchedOff = true;
    }
    if (!exec || switchedOff)
        return std::nullopt;
    return programOfExec(*exec);
}

} // namespace

std::optional<std::string> registeredStartAtLoginProgram()
{
    const std::string folder = autostartFolder();
    if (folder.empty())
        return std::nullopt;
    // Non-blocking so that a FIFO planted under the name cannot hang the caller.
    UniqueFd fd(::open(entryPath(folder).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info
    {
    };
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > entryLimit)
        return std::nullopt;
    std::string entry(static_cast<std::size_t>(info.st_size), '\0');
    if (!posix::readFully(fd.get(), entry.data(), entry.size()))
        return std::nullopt;
    return programOfEntry(entry);
}

bool registerStartAtLogin(const std::string &programPath)
{
    const std::string folder = autostartFolder();
    if (!isValidProgram(programPath) || folder.empty() || !makeFolders(folder))
        return false;
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=Solvik VPN\nExec=" + execValue(programPath) +
        "\nX-GNOME-Autostart-enabled=true\nTerminal=false\n";
    // The session never reads half an entry, and a link at its name is replaced, not followed.
    return posix::replaceFile(entryPath(folder), entry.data(), entry.size(),
                              [](int fd) { return ::fchmod(fd, 0644) == 0; });
}

bool unregisterStartAtLogin()
{
    const std::string folder = autostartFolder();
    return folder.empty() || ::unlink(entryPath(folder).c_str()) == 0 || errno == ENOENT;
}

} // namespace platform
