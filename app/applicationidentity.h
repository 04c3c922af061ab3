#pragma once

#include <QLatin1StringView>

// The kinds of run, each with its own application identity and therefore its own settings store
// and data directory: a smoke-test run never touches a normal run's settings or files.
enum class RunKind
{
    Normal,
    SmokeTest,
    WebsiteAssets,
};

namespace identity {

// The project's version, set once in the build.
inline constexpr QLatin1StringView version{SOLVIKVPN_VERSION};

// Sets organisation name, application name and version for `kind`; must run before anything
// touches settings or files.
void apply(RunKind kind);

} // namespace identity
