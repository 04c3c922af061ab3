#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"

// A child process held on a short leash: standard input from a pipe, standard output and standard
// error together into one pipe, contained so that it (and whatever it starts) dies when this
// object closes its containment or this process dies.
//
// Windows: CreateProcessW suspended in a new process group with a hidden console shared with
// the child, assigned to a job object with JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE before it runs;
// break is CTRL_BREAK_EVENT to its group. POSIX: its own process group, parent-death signal
// SIGKILL, SIGKILL to the group when the containment closes; break is SIGINT to the group.
// POSIX quirk: the parent-death signal fires when the THREAD that called start() ends, so
// start and supervise the child from one thread that outlives it.
//
// readOutput may run on another thread while the owner uses the other members (cancelOutput
// among them); the other members are for one thread.
namespace platform {

class SupervisedProcess
{
public:
    enum class WaitResult
    {
        Exited,
        EventSet,
        TimedOut
    };

    SupervisedProcess();
    // Closes the containment (ending the process tree) and every handle.
    ~SupervisedProcess();
    SupervisedProcess(const SupervisedProcess &) = delete;
    SupervisedProcess &operator=(const SupervisedProcess &) = delete;

    // Starts `program` (a full path, UTF-8) with `arguments` (without the program itself) in
    // `workingDirectory` (empty: this process's). Returns 0, or the error number of the step
    // that failed: creating a pipe, creating the process (2 when the program does not exist),
    // or 5 when the process could not be put into its containment (it is then terminated).
    std::uint32_t start(const std::string &program, const std::vector<std::string> &arguments,
                        const std::string &workingDirectory);

    // Before start(): the process's traffic passes the firewall block. POSIX: it joins the
    // block's control group before it runs, and start() fails with the error if it cannot.
    // Windows: nothing to do here, the block names the program's path.
    void exemptFromFirewall();

    // Writes every byte to the child's standard input; false when not all were written.
    bool writeInput(const void *data, std::size_t size);
    // Closes standard input so that the child sees the end of its input.
    void closeInput();

    // Blocks until output arrives; returns the number of bytes read, 0 when the output ended
    // (the child and everything that inherited the pipe closed it), reading failed or
    // cancelOutput() was called.
    std::size_t readOutput(void *buffer, std::size_t size);
    // Ends a readOutput() blocked on another thread, and every later one, with 0: a process
    // that escaped the containment may keep the pipe open for as long as it likes.
    void cancelOutput();
    // Closes the read end of the output; call after the reader has finished.
    void closeOutput();

    // Waits for the process to end, at most `timeoutMs` (negative: without limit), returning
    // early with EventSet when `stop` (optional) is set.
    WaitResult wait(int timeoutMs, const Event *stop = nullptr);
    bool hasExited();
    // The exit code once the process has ended (on POSIX a death by signal N reads as 128 + N,
    // except that terminate(code) yields `code`).
    std::uint32_t exitCode() const;

    // Ctrl-Break to the child's process group; false when it could not be sent.
    bool sendBreak();
    // Ends the process at once with `exitCode`.
    bool terminate(std::uint32_t exitCode);
    // Closes the containment: everything still running in it is killed.
    void closeContainment();

    std::uint32_t processId() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace platform
