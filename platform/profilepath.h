#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The elevated side's one way to read a tunnel profile file handed to it by an unprivileged
// caller. The file is opened exactly once, never following a link or reparse point, every rule
// is checked on the open handle, and the bytes come from that handle: the path is not used
// again, so swapping it for a link at any moment cannot make the reader take another file.
namespace platform {

// Opens `path` and refuses it unless:
// - `path` contains no double quote and no "." or ".." component, and its last component equals
//   `expectedFileName` exactly (letter case included);
// - the open file is a regular file with a single name (no hard link elsewhere) whose real path
//   is `path` itself, so no component on the way was a link or reparse point;
// - it is local: on Windows a drive letter that is not a network drive (UNC and device paths are
//   refused); on POSIX an absolute path outside NFS, SMB/CIFS, AFS, Coda, 9P, FUSE and Ceph;
// - it holds at most protectedFileLimit bytes.
// On success `blob` receives the file's bytes, still encrypted (the caller wipes them), and
// `ownerAccount` its owner (a SID on Windows, a uid on POSIX).
bool readLocalProfileFile(const std::string &path, const std::string &expectedFileName,
                          std::vector<std::uint8_t> &blob, std::string &ownerAccount);

} // namespace platform
