#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// Starting child programs with fork and exec, shared by the elevated launch, the supervised
// engine and the service manager. The parent learns of a failed exec through a close-on-exec
// error pipe: it closes at a successful exec, or carries the child's errno.
namespace platform::childexec {

// The exec argument vector over `words`, which must outlive it and not change meanwhile.
std::vector<char *> argumentVector(std::vector<std::string> &words);

// Waits for `pid` to end and reaps it, retrying after signals; its status is not needed.
void reap(pid_t pid);

// In the forked child, before exec (async-signal-safe): masks and ignored signals survive
// exec, so the program would otherwise not see break, stop or its own children's ends.
void resetSignals();

// In the forked child, after the standard streams are in place (async-signal-safe): marks every
// other descriptor close-on-exec, so the program inherits only its standard streams, whatever
// this process had open without the flag.
void keepOnlyStandardStreams();

// In the forked child (async-signal-safe): sends errno through the error pipe and ends with 127.
[[noreturn]] void reportFailure(int errorPipe);

} // namespace platform::childexec
