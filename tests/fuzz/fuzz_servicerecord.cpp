// Feeds arbitrary text to the POSIX service manager's record parser, which reads files from its
// state directory: an accepted record names the service it was read for, holds values in range,
// and reads back the same from the text the manager would write for it.
#include "fuzzrequire.h"
#include "platform/posix/servicerecord.h"

#include <cstdint>
#include <string>

namespace {

namespace record = platform::servicerecord;

const std::string serviceName = "SolvikVPN$tnel_0123456789abcdef0123";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    record::Record parsed;
    if (!record::parse(text, serviceName, parsed)) {
        return 0;
    }
    require(parsed.name == serviceName && parsed.id != 0);
    require(parsed.state <= platform::ServiceState::Other && parsed.pid >= 0);
    record::Record again;
    require(record::parse(record::serialise(parsed), serviceName, again));
    require(again == parsed);
    return 0;
}
