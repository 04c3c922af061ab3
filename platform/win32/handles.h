#pragma once

// Tiny owning wrappers for raw Win32 handles and system-allocated memory, so that every early
// return releases what it holds.

#include <windows.h>

#include <utility>

namespace platform::win32 {

// A kernel handle closed with CloseHandle; both null and INVALID_HANDLE_VALUE mean "none".
class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle)
        : m_handle(handle)
    {}
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    UniqueHandle(UniqueHandle &&other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr))
    {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        if (this != &other) {
            close();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    ~UniqueHandle() { close(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE *receive()
    {
        close();
        return &m_handle;
    }
    // Closes now; true when there was nothing to close or CloseHandle succeeded.
    bool close()
    {
        const bool ok = !valid() || CloseHandle(m_handle) != FALSE;
        m_handle = nullptr;
        return ok;
    }

private:
    HANDLE m_handle = nullptr;
};

// Memory that a Win32 call allocated for us with LocalAlloc (descriptors, SID strings, DPAPI
// output), released with LocalFree.
template<typename T> class LocalMemory
{
public:
    LocalMemory() = default;
    LocalMemory(const LocalMemory &) = delete;
    LocalMemory &operator=(const LocalMemory &) = delete;
    ~LocalMemory() { reset(); }

    T get() const { return m_pointer; }
    T *receive()
    {
        reset();
        return &m_pointer;
    }
    void reset()
    {
        if (m_pointer)
            LocalFree(reinterpret_cast<HLOCAL>(m_pointer));
        m_pointer = nullptr;
    }

private:
    T m_pointer = nullptr;
};

} // namespace platform::win32
