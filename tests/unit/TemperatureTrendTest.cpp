// The trend's readings: what a plot is given of them keeps every peak and stays bounded, the
// store stays bounded, and the CSV holds every reading exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "instruments/TemperatureTrend.h"

namespace {

constexpr int64_t kStart = 1796576605475;  // 2026-12-06T17:03:25.475Z
constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// A day of Auto Refresh: a slow wave with one reading's spike and one reading's dip, and a set
// point known only for the second half.
trend::Store Day() {
    trend::Store store;
    for (int i = 0; i < 86400; ++i) {
        const double wave = 30 + 5 * std::sin(i / 5000.0);
        const double process = i == 43210 ? 80 : i == 61234 ? -15 : wave;
        store.Add({kStart + i * 1000LL, process, i < 43200 ? kUnknown : 31.5 + (i % 7) / 10.0});
    }
    return store;
}

TEST(TemperatureTrend, ThinningKeepsEveryPeakInTimeOrderAndAtMostFourPointsAColumn) {
    const trend::Store day = Day();
    const int64_t end = day.Back().ms;
    for (const int columns : {1, 7, 640, 200000}) {
        SCOPED_TRACE(columns);
        for (const trend::Curve curve : {trend::Curve::Process, trend::Curve::Setpoint}) {
            const auto drawn = trend::Thin(day, curve, kStart, end, columns);
            const std::size_t known = curve == trend::Curve::Process ? 86400 : 43200;
            EXPECT_LE(drawn.size(), std::min<std::size_t>(4 * columns, known));
            EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(),
                                       [](auto& a, auto& b) { return a.ms < b.ms; }));
            const auto [low, high] = std::minmax_element(
                drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.value < b.value; });
            EXPECT_DOUBLE_EQ(low->value, curve == trend::Curve::Process ? -15 : 31.5);
            EXPECT_DOUBLE_EQ(high->value, curve == trend::Curve::Process ? 80 : 32.1);
            EXPECT_EQ(drawn.back().ms, end) << "the newest reading is drawn";
            EXPECT_EQ(drawn.size() == known, columns == 200000) << "more columns: all of them";
        }
    }
    // Only the readings in the plot's time span.
    const auto hour = trend::Thin(day, trend::Curve::Process, kStart, kStart + 3599999, 100000);
    EXPECT_EQ(hour.size(), 3600u);
    EXPECT_TRUE(trend::Thin(trend::Store(), trend::Curve::Process, 0, 1, 10).empty());
}

TEST(TemperatureTrend, TheStoreIsBoundedAndItsCsvHoldsEveryReadingExactly) {
    trend::Store store(3);
    for (int i = 0; i < 5; ++i) {
        store.Add({kStart + i * 1500LL, 20.25 + i, i == 4 ? kUnknown : 0.1 * i});
    }
    ASSERT_EQ(store.Size(), 3u);
    EXPECT_EQ(store.Front().process, 22.25) << "the oldest went";
    for (const auto& [ms, nearest] :
         {std::pair{0LL, 0u}, {kStart + 3700, 0u}, {kStart + 3800, 1u}, {kStart + 99999, 2u}}) {
        EXPECT_EQ(store.Nearest(ms), nearest) << ms;
    }
    EXPECT_EQ(store.Csv(),
              "time,process_c,setpoint_c\n"
              "2026-12-06T17:03:28.475Z,22.25,0.2\n"
              "2026-12-06T17:03:29.975Z,23.25,0.30000000000000004\n"
              "2026-12-06T17:03:31.475Z,24.25,\n");
    // A day's CSV, unthinned: a line for every reading.
    std::istringstream lines(Day().Csv());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
    }
    EXPECT_EQ(count, 86401);
}

}  // namespace
