// A child program for the supervised-process tests; its first argument picks the behaviour:
//   echo N          copy standard input to standard output until it ends, then exit with N
//   wait-break      print "ready", end with 0 on break (SIGINT / Ctrl-Break)
//   ignore-break    print "ready", ignore break, sleep until killed
//   spawn-sleeper   start "<self> sleep" as a child of its own, print its pid, sleep
//   escape-sleeper  (POSIX) the same, but the sleeper leaves the process group for a session of
//                   its own, keeps standard output open and ends by itself after 5 s
//   open-fds        (POSIX) print the descriptors above standard error that it was given
//   sleep           sleep until killed
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <dirent.h>
#include <unistd.h>
#endif

namespace {

volatile bool breakSeen = false;

#ifdef _WIN32
BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_BREAK_EVENT && type != CTRL_C_EVENT)
        return FALSE;
    breakSeen = true;
    return TRUE;
}

void catchBreak(bool ignore)
{
    SetConsoleCtrlHandler(ignore ? nullptr : onConsoleControl, TRUE);
    if (ignore)
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
}

unsigned long spawnSleeper(const char *self)
{
    std::string commandLine = std::string("\"") + self + "\" sleep";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}
#else
void onSignal(int)
{
    breakSeen = true;
}

void catchBreak(bool ignore)
{
    std::signal(SIGINT, ignore ? SIG_IGN : onSignal);
}

unsigned long spawnSleeper(const char *self, bool escape = false)
{
    // An escaping sleeper reports once it has left the group, so a kill of the group cannot
    // catch it on its way out.
    int left[2];
    if (pipe(left) != 0)
        return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        close(left[0]);
        if (escape) {
            setsid();
            (void)!write(left[1], "x", 1);
            close(left[1]);
            execl(self, self, "nap", static_cast<char *>(nullptr));
        }
        close(left[1]);
        execl(self, self, "sleep", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(left[1]);
    char mark;
    if (escape && pid > 0)
        (void)!read(left[0], &mark, 1);
    close(left[0]);
    return pid > 0 ? static_cast<unsigned long>(pid) : 0;
}

// Descriptors above standard error, but the one that reads the list itself.
std::string openDescriptors()
{
    std::string list;
    DIR *directory = opendir("/proc/self/fd");
    if (!directory)
        return "?";
    while (const dirent *entry = readdir(directory)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != dirfd(directory))
            list += std::to_string(fd) + " ";
    }
    closedir(directory);
    return list;
}
#endif

void sleepUntil(const volatile bool &flag)
{
    for (int i = 0; i < 60000 && !flag; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "echo" && argc > 2) {
#ifdef _WIN32
        // Bytes in, the same bytes out: no CR/LF translation.
        _setmode(_fileno(stdin), _O_BINARY);
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
            std::fwrite(buffer, 1, got, stdout);
        std::fflush(stdout);
        return std::atoi(argv[2]);
    }
    if (mode == "wait-break" || mode == "ignore-break") {
        catchBreak(mode == "ignore-break");
        std::printf("ready\n");
        std::fflush(stdout);
        sleepUntil(breakSeen);
        return breakSeen ? 0 : 9;
    }
    if (mode == "spawn-sleeper") {
        std::printf("%lu\n", spawnSleeper(argv[0]));
        std::fflush(stdout);
    }
#ifndef _WIN32
    if (mode == "escape-sleeper") {
        std::printf("%lu\n", spawnSleeper(argv[0], true));
        std::fflush(stdout);
        const bool never = false;
        sleepUntil(never);
        return 0;
    }
    if (mode == "nap") {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        return 0;
    }
    if (mode == "open-fds") {
        std::printf("fds:%s\n", openDescriptors().c_str());
        return 0;
    }
#endif
    if (mode == "spawn-sleeper" || mode == "sleep") {
        const bool never = false;
        sleepUntil(never);
        return 0;
    }
    return 2;
}
