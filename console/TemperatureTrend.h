#pragma once

#include <QGroupBox>
#include <QString>
#include <cstdint>
#include <functional>

#include "instruments/TemperatureTrend.h"

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QTimer;
class QToolButton;
class QValueAxis;

namespace console {

// The temperature trend beside the console's temperature group: the process temperature and the
// set point of every reading, over a time axis that runs from the first reading to the newest.
// Pointing at the plot reads out the nearest reading. Pause stops recording readings, Clear
// forgets them, and the readings (every one, as CSV) or the picture (PNG) can be saved.
// However many readings there are, the plot is given at most four points a pixel column.
class TemperatureTrend : public QGroupBox {
    Q_OBJECT

public:
    explicit TemperatureTrend(QWidget* parent = nullptr);

    // A reading taken now; ignored while paused. setpoint is NaN where it is not known.
    void AddReading(double process, double setpoint);
    // A reading with its own time; ignored while paused. The plot follows once events run.
    void Add(const trend::Point& point);
    const trend::Store& Readings() const { return store_; }
    bool IsPaused() const;

    // Draws the readings as they are now: what a new reading or a new size leads to by itself.
    void Redraw();

    // Write every reading as CSV, or the plot as it shows now as PNG, to path; the file there is
    // replaced only by a complete one. Return why that failed; empty when it did not.
    QString SaveCsv(const QString& path) const;
    QString SavePng(const QString& path);

public slots:
    void SetPaused(bool paused);
    void Clear();
    void OnSaveCsv();
    void OnSavePng();

private:
    // The reading nearest to the time under the pointer, read out and marked; none with nothing.
    void ShowNearest(const QPointF& position);
    void HideNearest();
    // Asks for a file name and writes it with save, saying why when it fails.
    void SaveAs(const QString& title, const QString& filter, const QString& suffix,
                const std::function<QString(const QString&)>& save);

    trend::Store store_;
    QChart* chart_;
    QChartView* view_;
    QLineSeries* process_;
    QLineSeries* setpoint_;
    QScatterSeries* marker_;
    QDateTimeAxis* time_;
    QValueAxis* value_;
    QLabel* readout_;
    QToolButton* pause_;
    QTimer* redraw_;
    // The plot's width in pixels when it was last drawn.
    int columns_ = 0;
};

}  // namespace console
