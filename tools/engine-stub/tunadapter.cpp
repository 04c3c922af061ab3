#include "tunadapter.h"

#ifdef _WIN32
using namespace Qt::Literals::StringLiterals;

// Windows needs a driver (wintun) for an adapter, which the stub does not carry.
TunAdapter::~TunAdapter() = default;

bool TunAdapter::open(const QString &, int, QString *error)
{
    *error = u"no adapter driver in the stub"_s;
    return false;
}
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The errno as a number only: the client maps phrases such as "permission denied" in engine
// output to adapter messages, and this stub's warning must not steer that mapping.
QString failure(const char *step)
{
    return QString::fromLatin1(step) + u" (errno "_s + QString::number(errno) + u')';
}

} // namespace

TunAdapter::~TunAdapter()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TunAdapter::open(const QString &name, int mtu, QString *error)
{
    const QByteArray interfaceName = name.toUtf8();
    if (interfaceName.size() >= IFNAMSIZ) {
        *error = u"interface name too long"_s;
        return false;
    }
    m_fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        *error = failure("open /dev/net/tun");
        return false;
    }
    struct ifreq request = {};
    std::memcpy(request.ifr_name, interfaceName.constData(), std::size_t(interfaceName.size()));
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (::ioctl(m_fd, TUNSETIFF, &request) != 0) {
        *error = failure("create adapter");
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    request.ifr_mtu = mtu;
    bool up = control >= 0 && ::ioctl(control, SIOCSIFMTU, &request) == 0 &&
              ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    if (!up)
        *error = failure("bring adapter up");
    if (control >= 0)
        ::close(control);
    return up;
}
#endif
