#include "platform/protectedfile.h"

#include "platform/crypto.h"
#include "platform/win32/filesecurity.h"
#include "platform/win32/handles.h"
#include "platform/win32/localfile.h"
#include "platform/win32/widetext.h"

#include <windows.h>

#include <dpapi.h>

#include <limits>
#include <optional>

namespace platform {

namespace {

using win32::LocalMemory;
using win32::UniqueHandle;

// A DPAPI output buffer: wiped and released with LocalFree whatever path the caller takes.
class DpapiOutput
{
public:
    DpapiOutput() = default;
    DpapiOutput(const DpapiOutput &) = delete;
    DpapiOutput &operator=(const DpapiOutput &) = delete;
    ~DpapiOutput()
    {
        if (m_blob.pbData) {
            secureZero(m_blob.pbData, m_blob.cbData);
            LocalFree(m_blob.pbData);
        }
    }
    DATA_BLOB *receive() { return &m_blob; }
    const BYTE *data() const { return m_blob.pbData; }
    DWORD size() const { return m_blob.cbData; }

private:
    DATA_BLOB m_blob{0, nullptr};
};

// A path for the wide calls; nothing for an empty path, an embedded NUL (which would silently
// name another file) or invalid UTF-8.
std::optional<std::wstring> widePath(const std::string &path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return std::nullopt;
    const std::optional<std::wstring> wide = win32::toWide(path);
    if (!wide)
        return std::nullopt;
    return win32::nativeSeparators(*wide);
}

// A reader holds the target only for the moment of its read, and shares delete access; a
// replacing rename is still refused while it does (always under Wine, and on Windows without
// POSIX rename semantics). Giving up there would silently keep the old content, such as a tunnel
// status that no longer holds, so the move waits out the reader for a bounded time.
constexpr int moveAttempts = 50;
constexpr DWORD moveRetryPauseMs = 10;

bool moveIntoPlace(const std::wstring &temporary, const std::wstring &target)
{
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            attempt == moveAttempts)
            return false;
        Sleep(moveRetryPauseMs);
    }
}

bool writeAndMove(const std::wstring &target, const std::wstring &temporary,
                  PSECURITY_DESCRIPTOR descriptor, const DpapiOutput &blob)
{
    // CREATE_ALWAYS keeps the access list of a file that already exists, so a leftover temporary
    // file is removed first: the new file must carry the descriptor given here.
    if (!DeleteFileW(temporary.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return false;
    DWORD written = 0;
    const bool stored = WriteFile(file.get(), blob.data(), blob.size(), &written, nullptr) &&
                        written == blob.size() && FlushFileBuffers(file.get());
    if (!file.close() || !stored) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    if (!moveIntoPlace(temporary, target)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool writeProtectedFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                                  const std::string &description, bool machineScope,
                                  const std::string &readerAccount)
{
    const std::optional<std::wstring> target = widePath(path);
    const std::optional<std::wstring> temporary = widePath(path + ".tmp");
    const std::optional<std::wstring> wideDescription = win32::toWide(description);
    if (!target || !temporary || !wideDescription ||
        bytes.size() > std::numeric_limits<DWORD>::max())
        return false;

    // An empty vector has no storage, and DPAPI refuses a null input buffer even of length 0.
    BYTE none = 0;
    DATA_BLOB input{static_cast<DWORD>(bytes.size()),
                    bytes.empty() ? &none : const_cast<BYTE *>(bytes.data())};
    const DWORD flags = CRYPTPROTECT_UI_FORBIDDEN | (machineScope ? CRYPTPROTECT_LOCAL_MACHINE : 0);
    DpapiOutput blob;
    if (!CryptProtectData(&input, wideDescription->c_str(), nullptr, nullptr, nullptr, flags,
                          blob.receive()))
        return false;

    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (readerAccount.empty()
            ? !win32::ownerOnlyDescriptor(descriptor)
            : !win32::administratorsAndReaderDescriptor(readerAccount, L"FR", descriptor))
        return false;
    return writeAndMove(*target, *temporary, descriptor.get(), blob);
}

std::vector<std::uint8_t> readProtectedFile(const std::string &path)
{
    const std::optional<std::wstring> widePathText = widePath(path);
    if (!widePathText)
        return {};
    // Sharing delete lets a concurrent writer move its new file into place while we read where
    // the system allows that; elsewhere the writer waits until the handle is closed, which is
    // why it is closed before the decryption. The entry itself is opened: a reparse point under
    // the name is refused, never followed.
    UniqueHandle file(CreateFileW(widePathText->c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    // Every protected file is written by moving a new file into place: one link.
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        info.nNumberOfLinks != 1)
        return {};
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > protectedFileLimit)
        return {};

    std::vector<std::uint8_t> encrypted(static_cast<std::size_t>(size));
    const bool read = win32::readExactly(file.get(), encrypted);
    file.close();
    std::vector<std::uint8_t> plain;
    if (read)
        plain = unprotectBlob(encrypted);
    secureZero(encrypted);
    return plain;
}

std::vector<std::uint8_t> unprotectBlob(const std::vector<std::uint8_t> &blob)
{
    if (blob.size() > std::numeric_limits<DWORD>::max())
        return {};
    DATA_BLOB input{static_cast<DWORD>(blob.size()), const_cast<BYTE *>(blob.data())};
    DpapiOutput output;
    if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            output.receive()))
        return {};
    return std::vector<std::uint8_t>(output.data(), output.data() + output.size());
}

std::string currentAccountId()
{
    return win32::toUtf8(win32::currentSidText());
}

} // namespace platform
