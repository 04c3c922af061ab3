#include "tunnel/restartpolicy.h"

#include <algorithm>
#include <cstdint>

RestartPolicy::RestartPolicy(Rules rules, Clock clock, Random random)
    : m_rules(rules)
    , m_clock(std::move(clock))
    , m_random(std::move(random))
{}

void RestartPolicy::healthy()
{
    m_healthySince = m_clock();
}

std::optional<std::chrono::milliseconds> RestartPolicy::failed()
{
    const auto now = m_clock();
    if (m_healthySince && now - *m_healthySince >= m_rules.healthyReset) {
        m_failures.clear();
        m_consecutive = 0;
    }
    m_healthySince.reset();
    m_failures.push_back(now);
    while (now - m_failures.front() > m_rules.failureWindow) {
        m_failures.pop_front();
    }
    // The first failure is the loss itself; the attempts are the ones after it.
    if (int(m_failures.size()) > m_rules.failedAttempts) {
        return std::nullopt;
    }
    const int doublings = std::min(m_consecutive, 30);
    ++m_consecutive;
    const auto delay =
        std::min(m_rules.firstDelay * (std::int64_t(1) << doublings), m_rules.longestDelay);
    const double extra = double(delay.count()) * m_rules.randomExtra * m_random();
    return delay + std::chrono::milliseconds(std::int64_t(extra));
}
