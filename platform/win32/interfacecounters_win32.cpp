#include "platform/interfacecounters.h"

#include "platform/win32/widetext.h"

#include <winsock2.h>
#include <ws2ipdef.h>

// Declares the interface row calls only when the two above came first.
#include <iphlpapi.h>

namespace platform {

std::optional<InterfaceCounters> readInterfaceCounters(const std::string &alias)
{
    // The call takes a C string: an embedded NUL would silently shorten the alias to another one.
    if (alias.empty() || alias.find('\0') != std::string::npos)
        return std::nullopt;
    const std::optional<std::wstring> wide = win32::toWide(alias);
    NET_LUID luid{};
    if (!wide || ConvertInterfaceAliasToLuid(wide->c_str(), &luid) != NO_ERROR)
        return std::nullopt;
    MIB_IF_ROW2 row{};
    row.InterfaceLuid = luid;
    if (GetIfEntry2(&row) != NO_ERROR)
        return std::nullopt;
    InterfaceCounters counters;
    counters.identifier = row.InterfaceLuid.Value;
    counters.up = row.OperStatus == IfOperStatusUp;
    counters.receivedOctets = row.InOctets;
    counters.sentOctets = row.OutOctets;
    return counters;
}

} // namespace platform
