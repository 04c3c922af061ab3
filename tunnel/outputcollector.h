#pragma once

#include <QByteArray>

#include <cstddef>
#include <vector>

// Keeps the last `capacity` bytes of a stream (the engine's combined output) in a fixed ring,
// so however much the engine prints, memory stays bounded and the reader never has to make it
// wait. The bytes may hold secrets the engine echoed: the ring is wiped on destruction.
class OutputCollector
{
public:
    static constexpr std::size_t defaultCapacity = 32768;

    explicit OutputCollector(std::size_t capacity = defaultCapacity);
    ~OutputCollector();
    OutputCollector(const OutputCollector &) = delete;
    OutputCollector &operator=(const OutputCollector &) = delete;

    void append(const char *data, std::size_t size);
    bool isEmpty() const { return m_size == 0; }
    std::size_t size() const { return m_size; }
    // The kept bytes, oldest first. The caller wipes its copy.
    QByteArray bytes() const;
    void wipe();

private:
    std::vector<char> m_ring;
    std::size_t m_start = 0; // index of the oldest byte
    std::size_t m_size = 0;
};
