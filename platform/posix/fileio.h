#pragma once

// Descriptors and whole-buffer transfers for the POSIX half: every early return closes what it
// opened, and a short read or write is never mistaken for a complete one.

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>

namespace platform::posix {

// A file descriptor closed on every return.
class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1)
        : m_fd(fd)
    {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { close(); }

    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(other.release())
    {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            close();
            m_fd = other.release();
        }
        return *this;
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes now; true when there was nothing to close or close() succeeded.
    bool close()
    {
        const bool ok = m_fd < 0 || ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

// Both ends of a pipe, each closed on every return.
struct Pipe
{
    UniqueFd read;
    UniqueFd write;
};

// pipe2 with `flags`; false with errno set when it fails.
inline bool makePipe(Pipe &pipe, int flags)
{
    int ends[2];
    if (::pipe2(ends, flags) != 0)
        return false;
    pipe.read = UniqueFd(ends[0]);
    pipe.write = UniqueFd(ends[1]);
    return true;
}

// Reads exactly `size` bytes, retrying after signals; false at an early end or an error.
inline bool readFully(int fd, void *buffer, std::size_t size)
{
    auto *bytes = static_cast<char *>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Reads until the end or until `size` bytes have arrived, retrying after signals and short
// reads; the number of bytes read, or -1 on an error.
inline ssize_t readUpTo(int fd, void *buffer, std::size_t size)
{
    auto *bytes = static_cast<char *>(buffer);
    std::size_t used = 0;
    while (used < size) {
        const ssize_t got = ::read(fd, bytes + used, size - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(used);
}

// Writes all `size` bytes, retrying after signals and short writes; false on an error.
inline bool writeFully(int fd, const void *buffer, std::size_t size)
{
    const auto *bytes = static_cast<const char *>(buffer);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Replaces `path` with `size` bytes as a whole: they go into a fresh "<path>.tmp" (a leftover one
// is removed first, so neither its permissions nor a planted hard link carry over; a link there is
// never followed), which `prepare` gives its owner and mode, are flushed, and the file is renamed
// over `path` (a link at `path` is replaced, not followed). The folder is flushed last, so the
// rename is durable. False leaves `path` as it was.
inline constexpr char temporarySuffix[] = ".tmp";

inline bool replaceFile(const std::string &path, const void *data, std::size_t size,
                        const std::function<bool(int fd)> &prepare)
{
    const std::string temporary = path + temporarySuffix;
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
        return false;
    UniqueFd fd(
        ::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        return false;
    const bool stored =
        prepare(fd.get()) && writeFully(fd.get(), data, size) && ::fsync(fd.get()) == 0;
    if (!fd.close() || !stored || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The new content is in place already; a failed flush of the folder does not undo it.
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        ::fsync(directory.get());
    return true;
}

} // namespace platform::posix
