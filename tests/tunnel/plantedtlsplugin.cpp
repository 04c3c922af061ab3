// A plugin that presents itself as one of the toolkit's TLS backends and, in whatever process
// loads it, leaves a mark beside itself: planted where an environment variable points the
// toolkit, it shows whether the privileged programs ever load code from there.
#include <QObject>
#include <QtPlugin>

#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

__attribute__((constructor)) void leaveMark()
{
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void *>(&leaveMark), &info) || !info.dli_fname)
        return;
    const std::string mark = std::string(info.dli_fname) + ".loaded";
    const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

class PlantedTlsPlugin : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QTlsBackend")
};

#include "plantedtlsplugin.moc"
