#pragma once

#include <chrono>
#include <optional>

// The pauses between checks for something that is expected soon (a service's new state, the
// engine's port): the first short, each next one twice as long up to `longest`. A wait once
// written as "`checks` checks, `longest` apart" keeps its whole length, since the pauses may add
// up to (checks - 1) x `longest`, while an answer that is there within milliseconds is seen
// within milliseconds.
class PollSchedule
{
public:
    static constexpr std::chrono::milliseconds firstPause{2};

    PollSchedule(std::chrono::milliseconds longest, int checks);

    // The pause before the next check; none once the pauses have used up the wait.
    std::optional<std::chrono::milliseconds> nextPause();

private:
    std::chrono::milliseconds m_longest;
    std::chrono::milliseconds m_left;
    std::chrono::milliseconds m_next;
};
