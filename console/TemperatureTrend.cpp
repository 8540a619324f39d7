#include "console/TemperatureTrend.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QPointF>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "console/MessageBox.h"
#include "platform/RegularFile.h"
#include "platform/ReplacementFile.h"

namespace console {

namespace {

// Before the first reading, and while the readings span less, the time axis shows this much.
constexpr int64_t kShortestSpanMs = 60 * 1000;
// The temperature axis spans at least this many degrees, so that a steady reading's noise in its
// last digit does not fill the plot.
constexpr double kShortestRange = 2.0;

// The chart view, telling where the pointer is over it and when it leaves.
class TrendView : public QChartView {
public:
    TrendView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
        setMouseTracking(true);
        setMinimumSize(360, 150);
    }
    // As tall as the test groups beside it, and no taller: the console keeps its height.
    QSize sizeHint() const override { return {480, 150}; }
    std::function<void(const QPointF&)> moved;
    std::function<void()> left;

protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        QChartView::mouseMoveEvent(event);
        if (moved) {
            moved(event->position());
        }
    }
    void leaveEvent(QEvent* event) override {
        QChartView::leaveEvent(event);
        if (left) {
            left();
        }
    }
};

QString WriteWhole(const QString& path, std::string_view contents) {
    const int error = platform::ReplaceFile(path.toStdString(), contents);
    return error == 0 ? QString() : QString::fromStdString(platform::FileErrorText(error));
}

QString Degrees(double value) {
    return std::isfinite(value) ? QString::asprintf("%.1f \u00B0C", value) : QString("unknown");
}

QList<QPointF> Points(const std::vector<trend::Sample>& samples, double& low, double& high) {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(samples.size()));
    for (const trend::Sample& sample : samples) {
        points.append(QPointF(static_cast<double>(sample.ms), sample.value));
        low = std::min(low, sample.value);
        high = std::max(high, sample.value);
    }
    return points;
}

}  // namespace

TemperatureTrend::TemperatureTrend(QWidget* parent) : QGroupBox("Temperature Trend", parent) {
    setObjectName("trendGroup");
    chart_ = new QChart;
    chart_->setMargins(QMargins(2, 2, 2, 2));
    chart_->setBackgroundRoundness(0);
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    chart_->legend()->setFont(small);

    process_ = new QLineSeries(chart_);
    process_->setName("Process");
    process_->setPen(QPen(QColor(0x1f, 0x5f, 0xbf), 1.5));
    setpoint_ = new QLineSeries(chart_);
    setpoint_->setName("Set point");
    setpoint_->setPen(QPen(QColor(0xd0, 0x60, 0x00), 1.5, Qt::DashLine));
    marker_ = new QScatterSeries(chart_);
    marker_->setMarkerSize(7);
    marker_->setColor(QColor(0x1f, 0x5f, 0xbf));
    marker_->setBorderColor(Qt::white);
    for (QAbstractSeries* series :
         std::initializer_list<QAbstractSeries*>{process_, setpoint_, marker_}) {
        chart_->addSeries(series);
    }
    for (QLegendMarker* legend : chart_->legend()->markers(marker_)) {
        legend->setVisible(false);
    }

    time_ = new QDateTimeAxis(chart_);
    time_->setTickCount(5);
    time_->setLabelsFont(small);
    value_ = new QValueAxis(chart_);
    value_->setLabelFormat("%.1f");
    value_->setLabelsFont(small);
    value_->setTitleText("\u00B0C");
    value_->setTitleFont(small);
    chart_->addAxis(time_, Qt::AlignBottom);
    chart_->addAxis(value_, Qt::AlignLeft);
    for (QAbstractSeries* series :
         std::initializer_list<QAbstractSeries*>{process_, setpoint_, marker_}) {
        series->attachAxis(time_);
        series->attachAxis(value_);
    }

    auto* view = new TrendView(chart_, this);
    view->setObjectName("trendChart");
    view->setRenderHint(QPainter::Antialiasing);
    view->setToolTip("Point at the plot to read the nearest reading.");
    view->moved = [this](const QPointF& position) { ShowNearest(position); };
    view->left = [this] { HideNearest(); };
    view_ = view;

    readout_ = new QLabel(this);
    readout_->setObjectName("trendReadout");
    readout_->setTextFormat(Qt::PlainText);
    readout_->setMinimumWidth(120);
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    const auto button = [this](const QString& text, const char* name, const QString& tip) {
        auto* tool = new QToolButton(this);
        tool->setText(text);
        tool->setObjectName(name);
        tool->setToolTip(tip);
        tool->setAutoRaise(false);
        return tool;
    };
    pause_ = button("Pause", "trendPauseButton", "Stop recording readings until pressed again.");
    pause_->setCheckable(true);
    QToolButton* clear = button("Clear", "trendClearButton", "Forget every reading.");
    QToolButton* csv =
        button("CSV...", "trendCsvButton", "Save every reading as a CSV file (never thinned).");
    QToolButton* png = button("PNG...", "trendPngButton", "Save the plot as a PNG picture.");
    connect(pause_, &QToolButton::toggled, this, &TemperatureTrend::SetPaused);
    connect(clear, &QToolButton::clicked, this, &TemperatureTrend::Clear);
    connect(csv, &QToolButton::clicked, this, &TemperatureTrend::OnSaveCsv);
    connect(png, &QToolButton::clicked, this, &TemperatureTrend::OnSavePng);

    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addWidget(readout_, 1);
    for (QToolButton* tool : {pause_, clear, csv, png}) {
        row->addWidget(tool);
    }
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);
    column->addLayout(row);
    column->addWidget(view_, 1);

    // Readings that come in a burst, and a change of size, are drawn once.
    redraw_ = new QTimer(this);
    redraw_->setSingleShot(true);
    redraw_->setInterval(0);
    connect(redraw_, &QTimer::timeout, this, &TemperatureTrend::Redraw);
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& area) {
        if (static_cast<int>(area.width()) != columns_) {
            redraw_->start();
        }
    });
    Redraw();
}

bool TemperatureTrend::IsPaused() const {
    return pause_->isChecked();
}

void TemperatureTrend::SetPaused(bool paused) {
    if (pause_->isChecked() != paused) {
        pause_->setChecked(paused);  // comes back here through toggled
        return;
    }
    HideNearest();
}

void TemperatureTrend::AddReading(double process, double setpoint) {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    Add({now.count(), process, setpoint});
}

void TemperatureTrend::Add(const trend::Point& point) {
    if (IsPaused()) {
        return;
    }
    store_.Add(point);
    if (!redraw_->isActive()) {
        redraw_->start();
    }
}

void TemperatureTrend::Clear() {
    store_.Clear();
    Redraw();
}

void TemperatureTrend::Redraw() {
    redraw_->stop();
    columns_ = static_cast<int>(chart_->plotArea().width());
    int64_t from = 0;
    int64_t to = 0;
    if (store_.Empty()) {
        to = QDateTime::currentMSecsSinceEpoch();
        from = to - kShortestSpanMs;
    } else {
        from = store_.Front().ms;
        to = std::max(store_.Back().ms, from + kShortestSpanMs);
    }
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const int columns = std::max(columns_, 1);
    for (const auto& [series, curve] : {std::pair{process_, trend::Curve::Process},
                                        std::pair{setpoint_, trend::Curve::Setpoint}}) {
        const QList<QPointF> points =
            Points(trend::Thin(store_, curve, from, to, columns), low, high);
        // A few readings far apart show as dots, which a line between them alone would not.
        series->setPointsVisible(points.size() * 8 < columns);
        series->replace(points);
    }
    if (!(low <= high)) {
        low = 20.0;
        high = 30.0;
    }
    if (high - low < kShortestRange) {
        const double middle = (low + high) / 2;
        low = middle - kShortestRange / 2;
        high = middle + kShortestRange / 2;
    }
    // Round figures a step apart, at most five labels: more would not fit the plot's height and
    // Qt Charts would shorten them all to "...". A little room above and below keeps a curve that
    // reaches the ends off the frame.
    const double margin = (high - low) * 0.05;
    low -= margin;
    high += margin;
    double step = 0.1;
    for (const double candidate : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0}) {
        step = candidate;
        if ((high - low) / candidate <= 4.0) {
            break;
        }
    }
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;
    value_->setRange(low, high);
    value_->setTickCount(static_cast<int>(std::lround((high - low) / step)) + 1);
    time_->setFormat(to - from > 24LL * 60 * 60 * 1000 ? "dd MMM HH:mm" : "HH:mm:ss");
    time_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    HideNearest();
}

void TemperatureTrend::ShowNearest(const QPointF& position) {
    const QPointF at = chart_->mapFromScene(view_->mapToScene(position.toPoint()));
    if (store_.Empty() || !chart_->plotArea().contains(at)) {
        HideNearest();
        return;
    }
    const QPointF value = chart_->mapToValue(at, process_);
    const trend::Point& point = store_[store_.Nearest(std::llround(value.x()))];
    readout_->setText(QDateTime::fromMSecsSinceEpoch(point.ms).toString("HH:mm:ss.zzz") + "   " +
                      Degrees(point.process) + ", set point " + Degrees(point.setpoint));
    marker_->replace(QList<QPointF>{QPointF(static_cast<double>(point.ms), point.process)});
}

void TemperatureTrend::HideNearest() {
    marker_->clear();
    if (store_.Empty()) {
        readout_->setText(IsPaused() ? "Paused." : "No readings yet.");
        return;
    }
    const trend::Point& newest = store_.Back();
    readout_->setText((IsPaused() ? "Paused. Newest " : "Newest ") +
                      QDateTime::fromMSecsSinceEpoch(newest.ms).toString("HH:mm:ss") + "   " +
                      Degrees(newest.process) + ", set point " + Degrees(newest.setpoint));
}

QString TemperatureTrend::SaveCsv(const QString& path) const {
    return WriteWhole(path, store_.Csv());
}

QString TemperatureTrend::SavePng(const QString& path) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!view_->grab().save(&buffer, "PNG")) {
        return "the picture could not be made";
    }
    return WriteWhole(path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

void TemperatureTrend::OnSaveCsv() {
    SaveAs("Save Readings As", "CSV, every reading (*.csv)", "csv",
           [this](const QString& path) { return SaveCsv(path); });
}

void TemperatureTrend::OnSavePng() {
    SaveAs("Save Trend Picture As", "PNG picture (*.png)", "png",
           [this](const QString& path) { return SavePng(path); });
}

void TemperatureTrend::SaveAs(const QString& title, const QString& filter, const QString& suffix,
                              const std::function<QString(const QString&)>& save) {
    QFileDialog chooser(this, title);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setNameFilter(filter);
    chooser.setDefaultSuffix(suffix);
    chooser.setDirectory(QDir::home());
    chooser.selectFile(QDateTime::currentDateTime().toString("'pravik-trend-'yyyy-MM-dd-HHmm'.") +
                       suffix + "'");
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = chooser.selectedFiles().front();
    const QString failed = save(path);
    if (!failed.isEmpty()) {
        // The readings stay as they were, to be saved elsewhere.
        Tell(this, "The trend could not be saved to " + QDir::toNativeSeparators(path) + ": " +
                       failed + ". Its readings are kept; choose another place.");
    }
}

}  // namespace console
