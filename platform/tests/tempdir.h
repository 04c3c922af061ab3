#pragma once

#include "platform/crypto.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        std::array<std::uint8_t, 8> random{};
        platform::randomBytes(random.data(), random.size());
        std::string name = "solvikvpn-test-";
        for (std::uint8_t b : random)
            name += "0123456789abcdef"[b >> 4], name += "0123456789abcdef"[b & 15];
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(m_path);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    // UTF-8 path of `name` inside the directory (ASCII names only in these tests).
    std::string file(const std::string &name) const { return (m_path / name).string(); }
    std::string path() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

inline std::vector<std::uint8_t> bytesOf(const std::string &text)
{
    return {text.begin(), text.end()};
}

inline std::vector<std::uint8_t> readRaw(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeRaw(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline bool exists(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}
