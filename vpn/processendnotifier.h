#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

// Tells once that a program has ended, from the handle its launcher hands out for that
// (platform::ElevatedProcess::endHandle): on Windows a wait on the process handle, elsewhere a
// read notification on the process descriptor. No clock is involved, so the end is seen at once.
// Where the handle is -1 nothing is watched and isActive() is false: the caller polls instead.
// The handle must stay open while this object lives.
class ProcessEndNotifier : public QObject
{
    Q_OBJECT

public:
    explicit ProcessEndNotifier(std::intptr_t handle, QObject *parent = nullptr);

    bool isActive() const { return m_active; }
    // Gives up the watch: to be called before the handle closes.
    void stop()
    {
        if (m_stop) {
            m_stop();
        }
    }

signals:
    void ended();

private:
    // Either half's notifier stays active once the program has ended: one report, then the
    // watch is given up.
    template<typename Notifier> void watch(Notifier *notifier)
    {
        m_stop = [notifier] { notifier->setEnabled(false); };
        connect(notifier, &Notifier::activated, this, [this] {
            stop();
            emit ended();
        });
        m_active = notifier->isEnabled();
    }

    std::function<void()> m_stop;
    bool m_active = false;
};
