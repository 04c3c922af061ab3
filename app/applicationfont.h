#pragma once

// The application font: Inter from the program's resources, with "Segoe UI" as the fallback when
// the font cannot be registered. Needs the application object; call once at start-up.
namespace applicationfont {

void install();

} // namespace applicationfont
