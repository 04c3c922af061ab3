#pragma once

#include <QLatin1StringView>

// Member names of the backend's VPN profile record, of the pending creation request and of the
// stored state file, shared by both halves of VpnController.
namespace profilerecord {

inline constexpr QLatin1StringView id{"id"};
inline constexpr QLatin1StringView accountDeviceId{"accountDeviceId"};
inline constexpr QLatin1StringView serverId{"serverId"};
inline constexpr QLatin1StringView revoked{"revoked"};
inline constexpr QLatin1StringView migrationRequired{"migrationRequired"};
inline constexpr QLatin1StringView active{"active"};
inline constexpr QLatin1StringView syncStatus{"syncStatus"};
inline constexpr QLatin1StringView connection{"connection"};
// Added by the client when it adopts a profile; the backend never sends it.
inline constexpr QLatin1StringView tunnelName{"tunnelName"};

// The pending creation request.
inline constexpr QLatin1StringView name{"name"};
inline constexpr QLatin1StringView requestKey{"requestKey"};

// The stored state file.
inline constexpr QLatin1StringView local{"local"};
inline constexpr QLatin1StringView pendingProfile{"pendingProfile"};

} // namespace profilerecord
