#pragma once

#include <QLatin1StringView>
#include <QString>

// Every request path of the backend, defined once; callers pass these to ApiClient::request.
namespace backend {

inline constexpr QLatin1StringView login{"/auth/login"};
inline constexpr QLatin1StringView registerAccount{"/auth/register"};
inline constexpr QLatin1StringView verifyEmail{"/auth/verify-email"};
inline constexpr QLatin1StringView resendVerification{"/auth/resend-verification"};
inline constexpr QLatin1StringView forgotPassword{"/auth/forgot-password"};
inline constexpr QLatin1StringView resetPassword{"/auth/reset-password"};
inline constexpr QLatin1StringView refresh{"/auth/refresh"};
inline constexpr QLatin1StringView logout{"/auth/logout"};
inline constexpr QLatin1StringView webTicket{"/auth/web-ticket"};
inline constexpr QLatin1StringView me{"/me"};
inline constexpr QLatin1StringView accessMe{"/access/me"};
inline constexpr QLatin1StringView plans{"/plans?limit=100"};
// The limit `plans` asks for.
inline constexpr int plansLimit = 100;
inline constexpr QLatin1StringView vpnProfiles{"/vpn-profiles"};

// Pages hold at most this many records; a full page means the caller asks for the next one.
inline constexpr int pageSize = 20;

// Paged lists, `page` counted from 1.
QString serversPage(int page);
QString devicesPage(int page);
QString vpnProfilesPage(int page);

// One record by identifier. The identifier is percent-encoded, so an identifier holding "/", "?"
// or "#" can never address another resource.
QString device(const QString &id);
QString vpnProfile(const QString &id);

} // namespace backend
