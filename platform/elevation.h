#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Starting a program with administrator rights and watching for its end without blocking.
//
// Windows: ShellExecuteExW with the verb "runas", SW_HIDE, SEE_MASK_NOCLOSEPROCESS and
// SEE_MASK_FLAG_NO_UI; the user answers the system's elevation prompt, and declining it makes
// start() fail with 1223.
//
// POSIX: the program runs directly when this process already runs as root, otherwise through
// "/usr/bin/pkexec". The argument text is split exactly as CommandLineToArgvW would split it for
// the program on Windows, and the program is started without a shell. pkexec's own outcomes
// arrive as exit codes, so poll() reports them as ElevationRefused: 126 (the user dismissed the
// prompt) as 1223, 127 (not authorised, or pkexec failed) as 5. In test builds the client's
// tests choose the elevator with the test switch SOLVIKVPN_ELEVATION (platform/testswitch.h):
// "direct" runs the program directly, any other value is the absolute path of a program used in
// pkexec's place (same command line, same exit codes). Only the client reads it; the helper and
// the service never elevate anything.
namespace platform {

class ElevatedProcess
{
public:
    enum class State
    {
        Running,
        Exited,
        // POSIX only: the elevator refused to run the program; exitCode() holds 1223 or 5.
        ElevationRefused
    };

    ElevatedProcess();
    // Releases the process handle; the program itself keeps running.
    ~ElevatedProcess();
    ElevatedProcess(ElevatedProcess &&other) noexcept;
    ElevatedProcess &operator=(ElevatedProcess &&other) noexcept;
    ElevatedProcess(const ElevatedProcess &) = delete;
    ElevatedProcess &operator=(const ElevatedProcess &) = delete;

    // Starts `program` (full path, UTF-8, native separators) elevated with `argumentText` as
    // Windows hands it over. Returns 0, or the Windows error number of the failure (1223 when
    // the user declined the prompt on Windows, 2 when the program does not exist, 87 while a
    // process is still held or, on POSIX, for a relative program or elevator path).
    std::uint32_t start(const std::string &program, const std::string &argumentText);

    // Looks at the process without waiting. After Exited, exitCode() is its exit code, or 1 when
    // the code cannot be read. On POSIX the status is read back through fromExitStatus
    // (platform/exitstatus.h), as the programs exit with Windows error numbers; a death by
    // signal N reads as 128 + N.
    State poll();
    std::uint32_t exitCode() const;

    // What the caller may wait on for the program's end instead of calling poll() on a clock:
    // Windows: the process handle, signalled when the program ends; POSIX: a process descriptor
    // (pidfd) that turns readable then. -1 when there is none (no process, or a system without
    // process descriptors): the caller polls. Owned by this object, valid until close().
    std::intptr_t endHandle() const;

    bool isOpen() const;
    // Releases the process handle (CloseHandle); the program keeps running.
    void close();

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

// The arguments CommandLineToArgvW finds in `argumentText` when it follows a program name:
// blanks (space, tab) separate arguments outside double quotes; 2n backslashes before a double
// quote give n backslashes and the quote groups; 2n+1 give n backslashes and a literal quote;
// other backslashes are literal; a double quote straight after a closing one is a literal quote
// and the text after it is unquoted.
std::vector<std::string> splitArgumentText(const std::string &argumentText);

} // namespace platform
