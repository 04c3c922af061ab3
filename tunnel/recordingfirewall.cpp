#include "tunnel/recordingfirewall.h"

#include "platform/winerror.h"

#include <filesystem>
#include <fstream>

RecordingFirewall::RecordingFirewall(std::string path)
    : m_path(std::move(path))
{}

std::uint32_t RecordingFirewall::apply(const platform::FirewallRules &rules)
{
    return record("apply " + rules.enginePath + '|' + rules.adapterAlias + '|' +
                  (rules.allowLocalNetwork ? '1' : '0'));
}

std::uint32_t RecordingFirewall::remove()
{
    return record("remove");
}

// Through the standard library rather than QFile: the service thread is the service manager's,
// and the toolkit's per-thread state must not be left on it.
std::uint32_t RecordingFirewall::record(const std::string &line)
{
    std::ofstream file(std::filesystem::u8path(m_path), std::ios::app | std::ios::binary);
    file << line << '\n';
    file.flush();
    return file ? platform::winerror::success : platform::winerror::generalFailure;
}
