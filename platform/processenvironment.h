#pragma once

// The privileged programs' defence against an environment chosen by someone else. An elevated
// process on Windows takes its environment from the user's own registry, and whoever starts the
// helper as root decides its environment on Linux: variables that pick code (plugin and library
// paths, configuration files of the libraries) or change behaviour must not reach it.
namespace platform {

// Replaces this process's environment by a minimal one built from trusted sources and, on
// Windows, limits later library loading to the program's folder and System32. Kept from the
// old environment: on POSIX the service manager's record variable, and in test builds the test
// variables (platform/testswitch.h). Call first thing in main, before any library reads the
// environment.
void restrictProcessEnvironment();

} // namespace platform
