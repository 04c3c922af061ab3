#include "platform/systemfonts.h"

#include <fontconfig/fontconfig.h>

#include <future>

namespace platform {

namespace {

std::future<FcBool> &configurationRead()
{
    static std::future<FcBool> read;
    return read;
}

} // namespace

void readSystemFontsAhead()
{
    configurationRead() = std::async(std::launch::async, FcInit);
}

void waitForSystemFonts()
{
    // Another FcInit() while this one runs would read everything a second time.
    if (configurationRead().valid()) {
        configurationRead().wait();
    }
}

} // namespace platform
