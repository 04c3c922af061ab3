#pragma once

#include <QString>

// The TUN adapter, created only where the machine allows it (root with /dev/net/tun on Linux;
// never on Windows, where it takes a driver). It is brought up with its MTU but gets no routes: the
// stub must never divert the machine's traffic. The adapter exists while this object lives.
class TunAdapter
{
public:
    TunAdapter() = default;
    ~TunAdapter();
    TunAdapter(const TunAdapter &) = delete;
    TunAdapter &operator=(const TunAdapter &) = delete;

    // False with the failing step and errno in `error` when the adapter cannot be made.
    bool open(const QString &name, int mtu, QString *error);

private:
    int m_fd = -1;
};
