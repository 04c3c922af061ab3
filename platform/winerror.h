#pragma once

#include <cstdint>

// Windows error numbers. Both halves of the seam report failures with these numbers, so the
// service program's exit codes mean the same thing on every system it runs on.
namespace platform::winerror {

inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t fileNotFound = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t accessDenied = 5;      // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t notEnoughMemory = 8;   // ERROR_NOT_ENOUGH_MEMORY
inline constexpr std::uint32_t invalidData = 13;      // ERROR_INVALID_DATA
inline constexpr std::uint32_t generalFailure = 31;   // ERROR_GEN_FAILURE
inline constexpr std::uint32_t invalidParameter = 87; // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t brokenPipe = 109;      // ERROR_BROKEN_PIPE
inline constexpr std::uint32_t invalidName = 123;     // ERROR_INVALID_NAME
inline constexpr std::uint32_t badExeFormat = 193;    // ERROR_BAD_EXE_FORMAT
// ControlService's answer to a control code the service does not take.
inline constexpr std::uint32_t invalidServiceControl = 1052; // ERROR_INVALID_SERVICE_CONTROL
inline constexpr std::uint32_t serviceRequestTimeout = 1053; // ERROR_SERVICE_REQUEST_TIMEOUT
inline constexpr std::uint32_t serviceNoThread = 1054;       // ERROR_SERVICE_NO_THREAD
inline constexpr std::uint32_t serviceAlreadyRunning = 1056; // ERROR_SERVICE_ALREADY_RUNNING
inline constexpr std::uint32_t serviceDoesNotExist = 1060;   // ERROR_SERVICE_DOES_NOT_EXIST
inline constexpr std::uint32_t serviceCannotAcceptControl =
    1061;                                               // ERROR_SERVICE_CANNOT_ACCEPT_CTRL
inline constexpr std::uint32_t serviceNotActive = 1062; // ERROR_SERVICE_NOT_ACTIVE
inline constexpr std::uint32_t failedServiceControllerConnect = 1063; // ..._CONTROLLER_CONNECT
inline constexpr std::uint32_t processAborted = 1067;                 // ERROR_PROCESS_ABORTED
inline constexpr std::uint32_t serviceDependencyFailed = 1068;   // ERROR_SERVICE_DEPENDENCY_FAIL
inline constexpr std::uint32_t serviceMarkedForDelete = 1072;    // ERROR_SERVICE_MARKED_FOR_DELETE
inline constexpr std::uint32_t serviceExists = 1073;             // ERROR_SERVICE_EXISTS
inline constexpr std::uint32_t duplicateServiceName = 1078;      // ERROR_DUPLICATE_SERVICE_NAME
inline constexpr std::uint32_t cancelled = 1223;                 // ERROR_CANCELLED
inline constexpr std::uint32_t connectionAborted = 1236;         // ERROR_CONNECTION_ABORTED
inline constexpr std::uint32_t invalidSecurityDescriptor = 1338; // ERROR_INVALID_SECURITY_DESCR

} // namespace platform::winerror
