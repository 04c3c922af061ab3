#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// The break signal on POSIX: SIGINT (the service's stand-in for Ctrl-Break) and SIGTERM,
// carried from the signal handler into the event loop through a self-pipe. On Windows: the
// console's Ctrl-Break and Ctrl-C events (the number is the event's).
class BreakSignal : public QObject
{
    Q_OBJECT

public:
    // With `ignore` both signals are ignored instead, so only SIGKILL (termination) ends the
    // process.
    explicit BreakSignal(bool ignore, QObject *parent = nullptr);
    ~BreakSignal() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
