#include "vpn/processendnotifier.h"

#include <QSocketNotifier>

ProcessEndNotifier::ProcessEndNotifier(std::intptr_t handle, QObject *parent)
    : QObject(parent)
{
    if (handle != -1) {
        watch(new QSocketNotifier(qintptr(handle), QSocketNotifier::Read, this));
    }
}
