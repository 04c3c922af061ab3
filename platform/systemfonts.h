#pragma once

// The machine's font list, read ahead of the window's first text.
namespace platform {

// Starts reading the machine's font configuration on a thread of its own, where each process
// reads it for itself (POSIX: fontconfig parses its files and loads its caches, the costliest
// step before a first line of text). Needs nothing else of the program, so it runs while the
// toolkit starts. Windows keeps the list in the system: nothing is done there. Call once.
void readSystemFontsAhead();

// Returns once what readSystemFontsAhead() started is done; at once when nothing was started.
void waitForSystemFonts();

} // namespace platform
