#include "vpn/engineerrormessage.h"

#include <QLatin1StringView>

#include <algorithm>

namespace {

struct PhraseGroup
{
    // Unused places stay empty.
    QLatin1StringView phrases[3];
    const char *message;
};

using namespace Qt::Literals::StringLiterals;

// Earlier groups win: an adapter failure explains a refused connection better than the refusal.
const PhraseGroup phraseGroups[] = {
    {{"reality verification failed"_L1},
     "Could not establish a secure connection to this server. Try another server or contact "
     "support."},
    {{"access is denied"_L1, "permission denied"_L1},
     "Windows denied access to the VPN network adapter. Allow administrator access and check "
     "your security software."},
    {{"wintun"_L1, "create tun"_L1, "configure tun"_L1},
     "The VPN network adapter could not start. Restart Windows and retry; reinstall Solvik VPN "
     "if the problem continues."},
    {{"start dns-transport"_L1, "decode config"_L1, "parse config"_L1},
     "The VPN engine could not load its network configuration. Update Solvik VPN or contact "
     "support."},
    {{"connection refused"_L1},
     "The VPN server refused the connection. Choose another server or contact support."},
    {{"i/o timeout"_L1, "network is unreachable"_L1},
     "The VPN server could not be reached. Check your internet connection or choose another "
     "server."},
};

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Searches in place: a lower-cased copy of the diagnostics would be one more secret to wipe.
bool containsIgnoringCase(const QByteArray &haystack, QLatin1StringView phrase)
{
    return std::search(haystack.cbegin(), haystack.cend(), phrase.cbegin(), phrase.cend(),
                       [](char a, char b) { return asciiLower(a) == b; }) != haystack.cend();
}

} // namespace

QString engineErrorMessage(const QByteArray &diagnostics)
{
    for (const PhraseGroup &group : phraseGroups) {
        for (QLatin1StringView phrase : group.phrases) {
            if (!phrase.isEmpty() && containsIgnoringCase(diagnostics, phrase)) {
                return QString::fromLatin1(group.message);
            }
        }
    }
    return {};
}
