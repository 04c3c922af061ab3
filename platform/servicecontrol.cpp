#include "platform/servicecontrol.h"

#include "platform/winerror.h"

// The parts of both handles that do not depend on the operating system.
namespace platform {

bool ServiceHandle::isOpen() const
{
    return d != nullptr;
}

std::uint32_t ServiceHandle::error() const
{
    return d ? winerror::success : (openError ? openError : winerror::invalidParameter);
}

bool ServiceManager::isOpen() const
{
    return d != nullptr;
}

std::uint32_t ServiceManager::error() const
{
    return d ? winerror::success : openError;
}

} // namespace platform
