#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

// When the tunnel service starts its engine again after losing it: 1, 2, 4, 8, 16, then 30 s
// before each attempt, each with up to 20 % random extra so that many machines that lost the
// same server do not return at the same moment. It gives up once the loss and 6 failed attempts
// after it fell within 5 minutes; 60 s of healthy running forgets earlier failures.
class RestartPolicy
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // A number from 0 up to (not including) 1.
    using Random = std::function<double()>;

    // The defaults are the product's; tests shorten the delays.
    struct Rules
    {
        std::chrono::milliseconds firstDelay{1000};    // doubled per failure...
        std::chrono::milliseconds longestDelay{30000}; // ...up to this
        double randomExtra = 0.2;
        int failedAttempts = 6;
        std::chrono::milliseconds failureWindow{std::chrono::minutes(5)};
        std::chrono::milliseconds healthyReset{std::chrono::seconds(60)};
    };

    RestartPolicy(Rules rules, Clock clock, Random random);

    // The engine ran and proved itself now.
    void healthy();
    // The engine was lost, or an attempt to start it again failed: the delay before the next
    // attempt, or nothing to give up.
    std::optional<std::chrono::milliseconds> failed();
    // The number of the attempt the last failed() scheduled: 1 after the loss.
    int attempt() const { return m_consecutive; }

private:
    Rules m_rules;
    Clock m_clock;
    Random m_random;
    std::deque<std::chrono::steady_clock::time_point> m_failures;
    std::optional<std::chrono::steady_clock::time_point> m_healthySince;
    int m_consecutive = 0;
};
