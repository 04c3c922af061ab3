#include "breaksignal.h"

#ifdef _WIN32
#include <atomic>
#include <windows.h>

namespace {

// The console's control handler runs on a thread of its own: the event loop hears of it through
// a queued call. The engine on Windows ends on Ctrl-Break (and Ctrl-C).
std::atomic<BreakSignal *> listener = nullptr;

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_BREAK_EVENT && type != CTRL_C_EVENT)
        return FALSE;
    if (BreakSignal *target = listener.load()) {
        const int event = static_cast<int>(type);
        QMetaObject::invokeMethod(
            target, [target, event] { emit target->received(event); }, Qt::QueuedConnection);
    }
    return TRUE;
}

} // namespace

BreakSignal::BreakSignal(bool ignore, QObject *parent)
    : QObject(parent)
{
    // Ignoring keeps the handler, which swallows the event: only termination ends the process.
    if (!ignore)
        listener = this;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

BreakSignal::~BreakSignal()
{
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    listener = nullptr;
}
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Nothing useful can be done about a full pipe inside a handler; one byte is enough.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
}

void install(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

BreakSignal::BreakSignal(bool ignore, QObject *parent)
    : QObject(parent)
{
    if (ignore) {
        install(SIG_IGN);
        return;
    }
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &BreakSignal::drain);
    install(onSignal);
}

BreakSignal::~BreakSignal()
{
    if (!m_notifier)
        return;
    install(SIG_DFL);
    m_notifier.reset();
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void BreakSignal::drain()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1)
        last = byte;
    if (last != 0)
        emit received(last);
}
#endif
