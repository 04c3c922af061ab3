#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// Keeps ManagerAccess::CreateService from being renamed by the macro of the same name.
#undef CreateService
#else
#include <csignal>
#include <unistd.h>
#endif

// Wine implements much of Windows but not all of it; tests name the differences they allow.
inline bool runsUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Test programs are built into the same directory as the test executables.
inline std::string testProgramPath(const std::string &name)
{
#ifdef _WIN32
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring self(buffer, length);
    std::wstring directory = self.substr(0, self.find_last_of(L"\\/") + 1);
    std::string narrow;
    for (wchar_t c : directory)
        narrow += static_cast<char>(c); // the build tree's path is ASCII
    return narrow + name + ".exe";
#else
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    std::string self(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
    return self.substr(0, self.find_last_of('/') + 1) + name;
#endif
}

// True when the process `pid` is gone (or a zombie) within `timeoutMs`.
inline bool processEnds(std::uint32_t pid, int timeoutMs)
{
    for (int waited = 0;; waited += 20) {
#ifdef _WIN32
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (!process)
            return true;
        const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        CloseHandle(process);
        if (ended)
            return true;
#else
        if (kill(static_cast<pid_t>(pid), 0) != 0)
            return true;
        char state = 0;
        if (FILE *stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r")) {
            if (std::fscanf(stat, "%*d (%*[^)]) %c", &state) != 1)
                state = 0;
            std::fclose(stat);
        }
        if (state == 'Z')
            return true;
#endif
        if (waited >= timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
