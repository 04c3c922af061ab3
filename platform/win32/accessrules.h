#pragma once

// The rules by which the privileged side judges a security descriptor: may anyone but the
// administrators (LocalSystem, the Administrators group, TrustedInstaller) change the object?

#include <windows.h>

namespace platform::win32 {

enum class EntryRole
{
    // A folder above the object: others may add entries to it (C:\ProgramData lets every user
    // create folders), but must not delete, rename or re-permission it or what it holds.
    Holder,
    // The object itself: nobody else may write, extend, delete or re-permission it.
    Leaf
};

// True when the descriptor lets anyone but the administrators change the object in the role
// given: its owner is not an administrator (an owner may always rewrite the access list), the
// access list is missing or null, or an allowing entry that applies to the object gives such a
// right to anyone else. Denying and inherit-only entries change nothing; an allowing entry of a
// kind not read here counts against the object.
bool descriptorLetsOthersChange(PSECURITY_DESCRIPTOR descriptor, EntryRole role);

} // namespace platform::win32
