#include "platform/console.h"

namespace platform {

void attachParentConsole() {}

} // namespace platform
