#include "vpn/processendnotifier.h"

#include <QWinEventNotifier>

ProcessEndNotifier::ProcessEndNotifier(std::intptr_t handle, QObject *parent)
    : QObject(parent)
{
    if (handle == -1) {
        return;
    }
    auto *notifier = new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(handle), this);
    // A process handle stays signalled: one report, then the wait is given up.
    connect(notifier, &QWinEventNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false);
        emit ended();
    });
    m_active = notifier->isEnabled();
}

void ProcessEndNotifier::stop()
{
    if (auto *notifier = findChild<QWinEventNotifier *>()) {
        notifier->setEnabled(false);
    }
}
