#include "platform/systemfonts.h"

namespace platform {

void readSystemFontsAhead() {}

void waitForSystemFonts() {}

} // namespace platform
