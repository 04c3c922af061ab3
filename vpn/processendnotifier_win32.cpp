#include "vpn/processendnotifier.h"

#include <QWinEventNotifier>

ProcessEndNotifier::ProcessEndNotifier(std::intptr_t handle, QObject *parent)
    : QObject(parent)
{
    if (handle != -1) {
        watch(new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(handle), this));
    }
}
