#pragma once

#include <string>

// The elevated side's check of a profile path handed to it by an unprivileged caller.
namespace platform {

// The path with links resolved, made absolute, in native separators; empty when the file does
// not exist or the path cannot be resolved.
std::string canonicalFilePath(const std::string &path);

// True when `path` is acceptable as the file of a tunnel profile:
// - it contains no double quote;
// - it names an existing regular file;
// - its last component, and that of its canonical path, equal `expectedFileName` exactly
//   (letter case included), so a link to a file of another name is refused;
// - the canonical path is local: on Windows it starts with a drive letter, a colon and a
//   separator (network paths are refused); on POSIX the given path is absolute without ".."
//   components and the file does not live on a network file system (NFS, SMB/CIFS, AFS, Coda,
//   9P, FUSE, Ceph).
bool isLocalProfilePath(const std::string &path, const std::string &expectedFileName);

} // namespace platform
