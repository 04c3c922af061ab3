#pragma once

#include <string>

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

// The account on whose behalf this process runs, as the profile reader's `requiredOwner`: on
// POSIX the real uid of an unprivileged process, or the uid pkexec reported for the account that
// asked (kept by restrictProcessEnvironment before it clears the variable); empty for root run
// directly, by the service manager included, and always on Windows.
std::string requestingAccount();

} // namespace platform
