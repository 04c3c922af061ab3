#include "tunnel/pollschedule.h"

#include <algorithm>

PollSchedule::PollSchedule(std::chrono::milliseconds longest, int checks)
    : m_longest(std::max(longest, std::chrono::milliseconds(0)))
    , m_left(m_longest * std::max(checks - 1, 0))
    , m_next(std::min(firstPause, m_longest))
{}

std::optional<std::chrono::milliseconds> PollSchedule::nextPause()
{
    if (m_left <= std::chrono::milliseconds(0)) {
        return std::nullopt;
    }
    const std::chrono::milliseconds pause = std::min(m_next, m_left);
    m_left -= pause;
    m_next = std::min(m_next * 2, m_longest);
    return pause;
}
