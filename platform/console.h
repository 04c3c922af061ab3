#pragma once

// The client is a windowed program; its command-line answers still reach the console it was
// started from.
namespace platform {

// On Windows, attaches to the parent's console, if it has one, and sends standard output and
// error there. Elsewhere standard output is already the terminal's: nothing to do.
void attachParentConsole();

} // namespace platform
