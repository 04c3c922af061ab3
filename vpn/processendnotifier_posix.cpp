#include "vpn/processendnotifier.h"

#include <QSocketNotifier>

ProcessEndNotifier::ProcessEndNotifier(std::intptr_t handle, QObject *parent)
    : QObject(parent)
{
    if (handle == -1) {
        return;
    }
    auto *notifier = new QSocketNotifier(qintptr(handle), QSocketNotifier::Read, this);
    // A process descriptor stays readable: one report, then the watch is given up.
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false);
        emit ended();
    });
    m_active = notifier->isEnabled();
}

void ProcessEndNotifier::stop()
{
    if (auto *notifier = findChild<QSocketNotifier *>()) {
        notifier->setEnabled(false);
    }
}
