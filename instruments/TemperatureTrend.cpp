#include "instruments/TemperatureTrend.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

#include "serial/TraceFormat.h"
#include "serial/WireText.h"

namespace trend {

namespace {

// Nothing for a value that is not known.
void AppendNumber(std::string& out, double value) {
    if (std::isfinite(value)) {
        out += wire::FormatReal(value);
    }
}

double ValueOf(const Point& point, Curve curve) {
    return curve == Curve::Process ? point.process : point.setpoint;
}

}  // namespace

Store::Store(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void Store::Add(const Point& point) {
    if (ring_.size() < capacity_) {
        ring_.push_back(point);
        return;
    }
    ring_[oldest_] = point;
    oldest_ = oldest_ + 1 == capacity_ ? 0 : oldest_ + 1;
}

void Store::Clear() {
    ring_.clear();
    oldest_ = 0;
}

std::size_t Store::Nearest(int64_t ms) const {
    if (Empty()) {
        return 0;
    }
    // The first point at or after ms (the times only go back if the wall clock is put back, and
    // then this still lands on a point), or the one before it if that is nearer.
    std::size_t low = 0;
    std::size_t high = Size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if ((*this)[middle].ms < ms) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == Size() || (low > 0 && ms - (*this)[low - 1].ms <= (*this)[low].ms - ms)) {
        return low == 0 ? 0 : low - 1;
    }
    return low;
}

std::string Store::Csv() const {
    std::string out = "time,process_c,setpoint_c\n";
    out.reserve(out.size() + Size() * 40);
    for (std::size_t i = 0; i < Size(); ++i) {
        const Point& point = (*this)[i];
        out += trace::IsoTime(
            std::chrono::system_clock::time_point(std::chrono::milliseconds(point.ms)));
        out += ',';
        AppendNumber(out, point.process);
        out += ',';
        AppendNumber(out, point.setpoint);
        out += '\n';
    }
    return out;
}

std::vector<Sample> Thin(const Store& store, Curve curve, int64_t from, int64_t to, int columns) {
    std::vector<Sample> out;
    if (store.Empty() || to < from || columns < 1) {
        return out;
    }
    const double span = static_cast<double>(to - from) + 1;
    // The first, lowest, highest and last point of the column being gathered, as indices, and
    // the lowest and highest values.
    int column = -1;
    std::array<std::size_t, 4> kept{};
    double low = 0;
    double high = 0;
    const auto flush = [&] {
        if (column < 0) {
            return;
        }
        std::array<std::size_t, 4> order = kept;
        std::sort(order.begin(), order.end());
        auto* const end = std::unique(order.begin(), order.end());
        for (auto* at = order.begin(); at != end; ++at) {
            out.push_back({store[*at].ms, ValueOf(store[*at], curve)});
        }
    };
    const double perMs = columns / span;
    for (std::size_t i = 0; i < store.Size(); ++i) {
        const Point& point = store[i];
        const double value = ValueOf(point, curve);
        if (point.ms < from || point.ms > to || !std::isfinite(value)) {
            continue;
        }
        const int at =
            std::min(columns - 1, static_cast<int>(static_cast<double>(point.ms - from) * perMs));
        if (at != column) {
            flush();
            column = at;
            kept = {i, i, i, i};
            low = high = value;
            continue;
        }
        if (value < low) {
            kept[1] = i;
            low = value;
        }
        if (value > high) {
            kept[2] = i;
            high = value;
        }
        kept[3] = i;
    }
    flush();
    return out;
}

}  // namespace trend
