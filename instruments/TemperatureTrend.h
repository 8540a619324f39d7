#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The temperature controller's readings over time, as the console keeps them for its trend: the
// points themselves, bounded, what of them a plot draws, and all of them as CSV.
namespace trend {

// One reading. Times are milliseconds since the epoch by the wall clock; a set point that is not
// known is NaN.
struct Point {
    int64_t ms = 0;
    double process = 0;
    double setpoint = 0;
};

// A point of one curve as it is drawn.
struct Sample {
    int64_t ms = 0;
    double value = 0;

    bool operator==(const Sample&) const = default;
};

// The readings in the order they came. Bounded: once full, each new reading pushes out the
// oldest, so memory stays put however long the console runs.
class Store {
public:
    // A week of Auto Refresh at one reading a second: 604,800 points of 24 bytes, under 15 MiB.
    static constexpr std::size_t kDefaultCapacity = 7 * 24 * 60 * 60;

    explicit Store(std::size_t capacity = kDefaultCapacity);

    void Add(const Point& point);
    void Clear();
    std::size_t Size() const { return ring_.size(); }
    bool Empty() const { return ring_.empty(); }
    std::size_t Capacity() const { return capacity_; }
    // Oldest first.
    const Point& operator[](std::size_t index) const {
        const std::size_t at = oldest_ + index;
        return ring_[at < ring_.size() ? at : at - ring_.size()];
    }
    const Point& Front() const { return (*this)[0]; }
    const Point& Back() const { return (*this)[ring_.size() - 1]; }
    // The index of the point nearest in time to ms; Size() when there is none.
    std::size_t Nearest(int64_t ms) const;
    // Every point, one line each after a header: the time in ISO 8601 UTC to the millisecond,
    // the process temperature and the set point (empty where it is not known), each value as
    // short as it can be written and still read back exactly.
    std::string Csv() const;

private:
    std::size_t capacity_;
    // Filled up to the capacity, then each reading takes the oldest one's place: contiguous, so
    // that a redraw reads through the readings at memory speed.
    std::vector<Point> ring_;
    std::size_t oldest_ = 0;
};

enum class Curve { Process, Setpoint };

// The points of one curve whose times lie in [from, to], reduced for a plot columns pixels wide:
// of each column's points the first, the lowest, the highest and the last, in time order and
// each once. The line drawn through them covers the same pixels as one through every point, so
// a spike of a single reading survives, and there are never more than four a column however
// many points the store holds. Points whose value is not known are left out.
std::vector<Sample> Thin(const Store& store, Curve curve, int64_t from, int64_t to, int columns);

}  // namespace trend
