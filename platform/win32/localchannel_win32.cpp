#include "platform/localchannel.h"

namespace platform {

std::string userChannelName(const std::string &id)
{
    return "solvikvpn-" + id;
}

} // namespace platform
