#pragma once

// What the fuzz targets share: a check that stops the run (libFuzzer keeps the input
// as a crash), and a reader of the few leading bytes some targets take as settings.

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                        \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// Settings taken from the front of the input; past its end they read as 0.
class Knobs
{
public:
    Knobs(const uint8_t *data, size_t size) : m_data(data), m_size(size) { }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    QByteArrayView rest() const
    {
        return m_at < m_size ? QByteArrayView(reinterpret_cast<const char *>(m_data + m_at), qsizetype(m_size - m_at))
                             : QByteArrayView();
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};
