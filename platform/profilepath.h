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
// - `path` contains no double quote and no empty, "." or ".." component, and its last component
//   equals `expectedFileName` exactly (letter case included);
// - no component on the way is a link or reparse point: on Windows the open file's real path is
//   `path` itself; on POSIX the path is opened one component at a time without following any
//   link, so the magic links of /proc cannot lead into another process's files or mounts, and
//   nothing on the way lies on /proc;
// - the open file is a regular file with a single name (no hard link elsewhere) and, on POSIX,
//   not a mount point of its own (a file bound over the name);
// - it is local: on Windows a drive letter that is not a network drive (UNC and device paths are
//   refused); on POSIX an absolute path outside NFS, SMB/CIFS, AFS, Coda, 9P, FUSE and Ceph;
// - on POSIX, it belongs to `requiredOwner` (a uid), or to the owner of the folder holding it
//   when `requiredOwner` is empty. Windows has no owner rule: only administrators can run the
//   reader, and a user elevated with another account's credentials must still be served;
// - it holds at most protectedFileLimit bytes.
// On success `blob` receives the file's bytes, still encrypted (the caller wipes them), and
// `ownerAccount` its owner (a SID on Windows, a uid on POSIX).
bool readLocalProfileFile(const std::string &path, const std::string &expectedFileName,
                          const std::string &requiredOwner, std::vector<std::uint8_t> &blob,
                          std::string &ownerAccount);

} // namespace platform
