#include "platform/posix/posixerror.h"

#include "platform/winerror.h"

#include <cerrno>

namespace platform {

std::uint32_t windowsErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return winerror::success;
    case ENOENT:
    case ENOTDIR:
        return winerror::fileNotFound;
    case EACCES:
    case EPERM:
        return winerror::accessDenied;
    case ENOMEM:
        return winerror::notEnoughMemory;
    case ENOEXEC:
        return winerror::badExeFormat;
    case EPIPE:
        return winerror::brokenPipe;
    case EINVAL:
        return winerror::invalidParameter;
    case ENAMETOOLONG:
        return winerror::invalidName;
    default:
        return winerror::generalFailure;
    }
}

} // namespace platform
