#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The fuzz targets read their input as a series of segments: a selector byte (which command is
// in flight, which events are set), a length byte, then that many bytes for the device to have
// sent. A session of several exchanges, stale state included, fits in one input that way.
template <typename OnSegment>
void ForEachSegment(const uint8_t* data, size_t size, OnSegment&& onSegment) {
    size_t pos = 0;
    while (pos < size) {
        const uint8_t selector = data[pos++];
        size_t length = pos < size ? data[pos++] : 0;
        length = std::min(length, size - pos);
        onSegment(selector, data + pos, length);
        pos += length;
    }
}
