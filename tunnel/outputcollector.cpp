#include "tunnel/outputcollector.h"

#include "platform/crypto.h"

#include <algorithm>

OutputCollector::OutputCollector(std::size_t capacity)
    : m_ring(capacity)
{}

OutputCollector::~OutputCollector()
{
    wipe();
}

void OutputCollector::append(const char *data, std::size_t size)
{
    const std::size_t capacity = m_ring.size();
    if (capacity == 0) {
        return;
    }
    // Only the tail of an oversized chunk can survive.
    if (size > capacity) {
        data += size - capacity;
        size = capacity;
    }
    std::size_t end = (m_start + m_size) % capacity;
    std::size_t remaining = size;
    while (remaining > 0) {
        const std::size_t run = std::min(remaining, capacity - end);
        std::copy_n(data, run, m_ring.begin() + std::ptrdiff_t(end));
        data += run;
        remaining -= run;
        end = (end + run) % capacity;
    }
    const std::size_t total = m_size + size;
    if (total > capacity) {
        m_start = (m_start + (total - capacity)) % capacity;
        m_size = capacity;
    } else {
        m_size = total;
    }
}

QByteArray OutputCollector::bytes() const
{
    QByteArray result(qsizetype(m_size), Qt::Uninitialized);
    const std::size_t capacity = m_ring.size();
    for (std::size_t i = 0; i < m_size; ++i) {
        result[qsizetype(i)] = m_ring[(m_start + i) % capacity];
    }
    return result;
}

void OutputCollector::wipe()
{
    platform::secureZero(m_ring.data(), m_ring.size());
    m_start = 0;
    m_size = 0;
}
