#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// What the tunnel service tells the window about a tunnel it brings back by itself, kept in the
// tunnel status file beside the tunnel error file. The window reads it as untrusted input: the
// record is small, every field is checked, and the error text is plain text of bounded length.
struct TunnelStatus
{
    enum class State
    {
        Running,      // the engine runs and its proxy answered
        Reconnecting, // the engine ended or stopped answering; attempt `attempt` is under way
        GaveUp,       // the attempts ran out; the service stops with the last engine output
        Blocked // the engine is gone for good and the service left its block up: nothing passes
    };

    State state = State::Running;
    // 1 for the first attempt after a failure; 0 while running without one.
    int attempt = 0;
    // When the next attempt starts (UTC); invalid when none is waiting.
    QDateTime nextAttemptAt;
    // The reason of the last failure, in plain text.
    QString lastError;

    bool operator==(const TunnelStatus &) const = default;

    // The longest record and error text either side accepts.
    static constexpr qsizetype maximumSize = 4096;
    static constexpr qsizetype maximumErrorLength = 300;
    static constexpr int maximumAttempt = 1000;

    // Compact JSON {"state", "attempt", "nextAttemptAt", "lastError"}; the error text is cut to
    // maximumErrorLength.
    QByteArray serialize() const;
    // Nothing for a record that is too large, not exactly that object, has an unknown state, an
    // attempt outside 0..maximumAttempt, an unreadable time or a too long error text. Control
    // characters in the error text become spaces.
    static std::optional<TunnelStatus> parse(const QByteArray &bytes);
};
