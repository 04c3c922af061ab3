#include "platform/networkwatch.h"

#include <winsock2.h>
#include <ws2ipdef.h>

// Declares the notification calls only when the two above came first.
#include <iphlpapi.h>

namespace platform {

namespace {

// Loaded at run time: where the system lacks them (or, like Wine, may answer with stubs), the
// watch reports that it cannot start instead of the program failing to load.
template<typename Function> Function *loadCall(HMODULE module, const char *name)
{
    return reinterpret_cast<Function *>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

struct NetworkWatch::Impl
{
    Callback callback;
    decltype(&CancelMibChangeNotify2) cancel = nullptr;
    HANDLE routeNotification = nullptr;
    HANDLE interfaceNotification = nullptr;

    static void WINAPI routeChanged(PVOID context, PMIB_IPFORWARD_ROW2 row,
                                    MIB_NOTIFICATION_TYPE type)
    {
        if (row && type != MibInitialNotification && row->DestinationPrefix.PrefixLength == 0)
            static_cast<Impl *>(context)->callback();
    }

    static void WINAPI interfaceChanged(PVOID context, PMIB_IPINTERFACE_ROW,
                                        MIB_NOTIFICATION_TYPE type)
    {
        if (type == MibAddInstance)
            static_cast<Impl *>(context)->callback();
    }

    // Waits for a callback under way; none runs after it.
    void stop()
    {
        for (HANDLE *notification : {&routeNotification, &interfaceNotification}) {
            if (*notification)
                cancel(*notification);
            *notification = nullptr;
        }
    }
};

NetworkWatch::NetworkWatch()
    : d(std::make_unique<Impl>())
{}

NetworkWatch::~NetworkWatch()
{
    d->stop();
}

bool NetworkWatch::start(Callback callback)
{
    if (!callback || d->routeNotification)
        return false;
    const HMODULE library = LoadLibraryW(L"iphlpapi.dll");
    if (!library)
        return false;
    const auto notifyRoute = loadCall<decltype(NotifyRouteChange2)>(library, "NotifyRouteChange2");
    const auto notifyInterface =
        loadCall<decltype(NotifyIpInterfaceChange)>(library, "NotifyIpInterfaceChange");
    d->cancel = loadCall<decltype(CancelMibChangeNotify2)>(library, "CancelMibChangeNotify2");
    if (!notifyRoute || !notifyInterface || !d->cancel)
        return false;
    d->callback = std::move(callback);
    // A handle is kept only from a call that succeeded, so that stop() cancels nothing else.
    HANDLE route = nullptr;
    if (notifyRoute(AF_UNSPEC, &Impl::routeChanged, d.get(), FALSE, &route) != NO_ERROR)
        return false;
    d->routeNotification = route;
    HANDLE added = nullptr;
    if (notifyInterface(AF_UNSPEC, &Impl::interfaceChanged, d.get(), FALSE, &added) != NO_ERROR) {
        d->stop();
        return false;
    }
    d->interfaceNotification = added;
    return true;
}

} // namespace platform
