// What one redraw of the console's temperature trend costs after 24 hours of Auto Refresh, one
// reading a second: 86,400 readings. A redraw is what each new reading leads to: the readings
// thinned for the plot's width, handed to the chart, laid out and painted. The trend is shown at
// the size it has in the console, offscreen, and painted into a picture, so that every pixel is
// drawn each time.
//
// The baseline is the same trend holding an hour of readings (3,600), timed in the same rounds,
// interleaved, so that a neighbour on a shared build machine weighs on both alike: a ratio near 1
// says the redraw does not grow with the readings. Beside it, a chart handed every one of the
// 86,400 readings, unthinned, shows what the thinning saves, and the thinning alone is timed.
// Figures are medians of wall time in milliseconds; the thread's CPU time is printed beside them.

#include <QApplication>
#include <QCoreApplication>
#include <QList>
#include <QPointF>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "console/TemperatureTrend.h"

namespace {

using bench::Median;
using bench::Ratio;
using bench::Span;
using bench::Time;

constexpr int kDay = 86400;
constexpr int kHour = 3600;
constexpr int kRounds = 21;
constexpr int kUnthinnedRounds = 3;
constexpr int kWidth = 560;
constexpr int kHeight = 240;
constexpr int64_t kStart = 1796576605000;

// A controller settling after set point steps, with noise in the last digit and a spike now and
// then, as a day of readings looks.
trend::Point Reading(int i) {
    const double setpoint = 25.0 + 5.0 * ((i / 7200) % 3);
    const double process = setpoint - 5.0 * std::exp(-(i % 7200) / 600.0) +
                           0.1 * ((i * 7919) % 5 - 2) + (i % 9973 == 0 ? 4.0 : 0.0);
    return {kStart + i * 1000LL, std::round(process * 10) / 10, setpoint};
}

// One redraw as a new reading brings it, painted.
Span Redraw(console::TemperatureTrend& trend, int reading) {
    return Time([&] {
        trend.Add(Reading(reading));
        trend.Redraw();
        QCoreApplication::processEvents();
        (void)trend.grab();
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    console::TemperatureTrend day;
    console::TemperatureTrend hour;
    for (console::TemperatureTrend* trend : {&day, &hour}) {
        trend->resize(kWidth, kHeight);
        trend->show();
    }
    for (int i = 0; i < kDay; ++i) {
        day.Add(Reading(i));
        if (i < kHour) {
            hour.Add(Reading(i));
        }
    }
    QCoreApplication::processEvents();
    std::printf("trend %d x %d px, %zu and %zu readings, %d rounds\n", kWidth, kHeight,
                day.Readings().Size(), hour.Readings().Size(), kRounds);

    std::vector<double> dayWall;
    std::vector<double> dayCpu;
    std::vector<double> hourWall;
    std::vector<double> hourCpu;
    std::vector<double> thinMs;
    for (int round = 0; round < kRounds; ++round) {
        const Span h = Redraw(hour, kHour + round);
        const Span d = Redraw(day, kDay + round);
        hourWall.push_back(h.wallUs / 1000);
        hourCpu.push_back(h.cpuUs / 1000);
        dayWall.push_back(d.wallUs / 1000);
        dayCpu.push_back(d.cpuUs / 1000);
        const trend::Store& readings = day.Readings();
        thinMs.push_back(
            Time([&] {
                for (const trend::Curve curve : {trend::Curve::Process, trend::Curve::Setpoint}) {
                    (void)trend::Thin(readings, curve, readings.Front().ms, readings.Back().ms,
                                      kWidth);
                }
            }).wallUs /
            1000);
    }

    // Every reading handed to a chart of the same size, as it would be without the thinning.
    auto* chart = new QChart;  // the view's to delete
    auto* series = new QLineSeries(chart);
    chart->addSeries(series);
    chart->createDefaultAxes();
    QChartView view(chart);
    view.resize(kWidth, kHeight);
    view.show();
    QList<QPointF> all;
    all.reserve(kDay);
    for (int i = 0; i < kDay; ++i) {
        const trend::Point point = Reading(i);
        all.append(QPointF(static_cast<double>(point.ms), point.process));
    }
    std::vector<double> unthinned;
    unthinned.reserve(kUnthinnedRounds);
    for (int round = 0; round < kUnthinnedRounds; ++round) {
        unthinned.push_back(Time([&] {
                                series->replace(all);
                                QCoreApplication::processEvents();
                                (void)view.grab();
                            }).wallUs /
                            1000);
    }

    const double dayMs = Median(dayWall);
    const double hourMs = Median(hourWall);
    std::printf("redraw, a day:   %.2f ms wall, %.2f ms CPU\n", dayMs, Median(dayCpu));
    std::printf("redraw, an hour: %.2f ms wall, %.2f ms CPU\n", hourMs, Median(hourCpu));
    std::printf("thinning a day for %d columns, both curves: %.2f ms\n", kWidth, Median(thinMs));
    std::printf("a day unthinned: %.1f ms\n", Median(unthinned));
    std::printf("trend_redraw_ms=%.2f\n", dayMs);
    std::printf("trend_redraw_baseline_ms=%.2f\n", hourMs);
    std::printf("trend_redraw_vs_hour_ratio=%.2f\n", Ratio(dayMs, hourMs));
    std::printf("trend_thin_ms=%.2f\n", Median(thinMs));
    std::printf("trend_unthinned_redraw_ms=%.1f\n", Median(unthinned));
    return 0;
}
