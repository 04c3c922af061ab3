#include "platform/posix/sysfscounters.h"

#include "platform/posix/fileio.h"

#include <charconv>
#include <fcntl.h>
#include <net/if.h>
#include <unistd.h>

namespace platform::posix {

namespace {

// Longer than any attribute we read ("18446744073709551615\n" is 21 bytes).
constexpr std::size_t attributeLimit = 32;

bool isKernelInterfaceName(const std::string &alias)
{
    return !alias.empty() && alias.size() < IFNAMSIZ && alias != "." && alias != ".." &&
           alias.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// The whole content of attribute `name` in `folder`. Sysfs attributes report a size of 4096
// whatever they hold, so this reads to the end instead of trusting fstat.
std::optional<std::string> readAttribute(int folder, const char *name)
{
    const UniqueFd fd(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (!fd.valid())
        return std::nullopt;
    char buffer[attributeLimit + 1];
    const ssize_t used = readUpTo(fd.get(), buffer, sizeof buffer);
    if (used < 0 || static_cast<std::size_t>(used) > attributeLimit)
        return std::nullopt;
    std::string text(buffer, static_cast<std::size_t>(used));
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Digits only, as the kernel prints them; no sign, no blanks, nothing beyond 64 bits.
std::optional<std::uint64_t> readNumber(int folder, const char *name)
{
    const std::optional<std::string> text = readAttribute(folder, name);
    if (!text || text->empty())
        return std::nullopt;
    std::uint64_t value = 0;
    const char *end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<InterfaceCounters> readSysfsCounters(const std::string &root,
                                                   const std::string &alias)
{
    if (!isKernelInterfaceName(alias))
        return std::nullopt;
    // The alias entry is a link into /sys/devices in real sysfs, so it is followed; everything
    // below it is opened relative to it without following links.
    const UniqueFd folder(::open((root + '/' + alias).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return std::nullopt;
    const UniqueFd statistics(
        ::openat(folder.get(), "statistics", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    const std::optional<std::uint64_t> index = readNumber(folder.get(), "ifindex");
    const std::optional<std::string> state = readAttribute(folder.get(), "operstate");
    if (!statistics.valid() || !index || !state)
        return std::nullopt;
    const std::optional<std::uint64_t> received = readNumber(statistics.get(), "rx_bytes");
    const std::optional<std::uint64_t> sent = readNumber(statistics.get(), "tx_bytes");
    if (!received || !sent)
        return std::nullopt;
    InterfaceCounters counters;
    counters.identifier = *index;
    // TUN devices stay "unknown" for good; their carrier tells whether a reader is attached.
    // Reading carrier fails with EINVAL while the interface is down, which is "not up" as well.
    counters.up = *state == "up" ||
                  (*state == "unknown" && readNumber(folder.get(), "carrier") == std::uint64_t{1});
    counters.receivedOctets = *received;
    counters.sentOctets = *sent;
    return counters;
}

} // namespace platform::posix
