// The terminal log widget, offscreen: what each append looks like in the document and in a saved
// file, the legend, when the view follows the end, that a reader's place and selection survive
// appends, that dropping the oldest lines at the limit moves nobody, and finding text.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "console/TerminalLogCtrl.h"

namespace {

struct Styled {
    QString text;
    int code;
};

// The format of the character at position; a line break's is the character format of the block
// it starts.
QTextCharFormat FormatAt(const QTextDocument& document, int position) {
    const QTextBlock block = document.findBlock(position);
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        if (it.fragment().contains(position)) {
            return it.fragment().charFormat();
        }
    }
    return block.next().charFormat();
}

// The document holds exactly the runs' text, every character of it bold and in its run's colour.
// Plain text has no colour of its own, so that it is drawn in the palette's text colour.
// Line breaks, unless told not to (an HTML page gives them the colour of their paragraph).
void ExpectRuns(const QTextDocument& document, const std::vector<Styled>& runs,
                bool breaksToo = true) {
    const std::map<int, QColor> colours = {{1, QColor(0, 0, 140)},
                                           {2, QColor(255, 140, 0)},
                                           {3, QColor(200, 0, 0)},
                                           {4, QColor(0, 140, 0)}};
    QString all;
    for (const Styled& run : runs) {
        for (int i = 0; i < run.text.size(); ++i) {
            if (!breaksToo && run.text[i] == '\n') {
                continue;
            }
            SCOPED_TRACE(testing::Message() << run.text.toStdString() << ", character " << i);
            const QTextCharFormat format = FormatAt(document, int(all.size()) + i);
            EXPECT_EQ(format.fontWeight(), QFont::Bold);
            const auto colour = colours.find(run.code);
            if (colour == colours.end()) {
                EXPECT_FALSE(format.hasProperty(QTextFormat::ForegroundBrush));
            } else {
                EXPECT_EQ(format.foreground().color(), colour->second);
            }
        }
        all += run.text;
    }
    EXPECT_EQ(document.toPlainText().toStdString(), all.toStdString());
}

// Saved as text and as HTML, read back: the same text, and from HTML the same colours.
void ExpectSaved(const CTerminalLogCtrl& log, const std::vector<Styled>& runs) {
    QTemporaryDir folder;
    for (const auto format :
         {CTerminalLogCtrl::FileFormat::Text, CTerminalLogCtrl::FileFormat::Html}) {
        const QString path = folder.filePath("log");
        ASSERT_EQ(log.SaveTo(path, format), "");
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        if (format == CTerminalLogCtrl::FileFormat::Text) {
            EXPECT_EQ(text, log.toPlainText());
        } else {
            QTextDocument page;
            page.setHtml(text);
            ExpectRuns(page, runs, false);
        }
    }
}

TEST(TerminalLog, EveryAppendIsBoldInTheColourOfItsCodeAndTheLegendSaysWhichIsWhich) {
    // Codes outside 0..4 are plain; line breaks take the colour of their append.
    const std::vector<Styled> runs = {
        {"ok", 4},   {"plain", 0},   {"#0R", 1},        {"OK[0x0D]\n", 2}, {"ERROR\n", 3},
        {"a\nb", 0}, {"five", 5},    {"minus one", -1}, {"done", 4},       {"\n<&> \"x\"", 2},
        {"\n", 2},   {"\u00B0C", 1}, {" and on\n", 1}};
    CTerminalLogCtrl log;
    for (const Styled& run : runs) {
        log.AppendLog(run.text, run.code);
    }
    ExpectRuns(*log.document(), runs);
    EXPECT_FALSE(log.document()->isUndoAvailable()) << "appends must not pile up undo steps";

    ExpectSaved(log, runs);
    EXPECT_FALSE(log.SaveTo("/sys/log.txt", CTerminalLogCtrl::FileFormat::Text).isEmpty());
    // A pipe is refused in words, not as an "Invalid argument".
    QTemporaryDir folder;
    const QString pipe = folder.filePath("pipe.txt");
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(log.SaveTo(pipe, CTerminalLogCtrl::FileFormat::Text), "not a regular file");
    log.ClearLog();
    log.AppendLog("again", 1);
    ExpectRuns(*log.document(), {{"again", 1}});

    CTerminalLogCtrl legend;
    legend.WriteLegend();
    EXPECT_EQ(legend.toPlainText(),
              "Green Text - Indicates no error\nRed Text - Indicates an error\nBlue Text - "
              "Indicates transmitted (TX) data\nOrange Text - Indicates received (RX) data\n");
}

TEST(TerminalLog, KeepsTheNewestLinesWithinItsLimitInTheirColours) {
    CTerminalLogCtrl log;
    log.SetMaximumLines(20);
    std::vector<Styled> runs;
    int most = 0;
    for (int i = 0; i < 100; ++i) {
        runs.push_back({QString("line %1\n").arg(i), 1 + i % 4});
        log.AppendLog(runs.back().text, runs.back().code);
        most = std::max(most, log.document()->blockCount());
    }
    EXPECT_EQ(most, 20) << "the limit is reached, never passed";
    // What is left is the newest lines, whole and in order, each still in its own colour.
    const int kept = log.document()->blockCount() - 1;
    ASSERT_GE(kept, 10);
    ExpectRuns(*log.document(), std::vector<Styled>(runs.end() - kept, runs.end()));
    ExpectSaved(log, std::vector<Styled>(runs.end() - kept, runs.end()));
}

// A shown log, a few dozen lines high, with the event loop run after each burst of appends.
class ShownLog : public testing::Test {
protected:
    void SetUp() override {
        log_.resize(400, 200);
        log_.show();
        Settle();
    }
    void AppendLines(int count) {
        for (int i = 0; i < count; ++i) {
            log_.AppendLog(QString("COM3 << line %1[0x0D]\n").arg(next_++), kLogReceived);
        }
        Settle();
    }
    static void Settle() { QCoreApplication::processEvents(); }
    QScrollBar* Bar() { return log_.verticalScrollBar(); }
    // Whether the view is at the end with the last line of text inside the text area.
    bool ShowsTheEnd() {
        QTextCursor end(log_.document());
        end.movePosition(QTextCursor::End);
        end.movePosition(QTextCursor::PreviousBlock);
        const QRect line = log_.cursorRect(end);
        return Bar()->value() == Bar()->maximum() && line.top() >= 0 &&
               line.bottom() <= log_.viewport()->height();
    }
    void Select(int anchor, int position) {
        QTextCursor selection(log_.document());
        selection.setPosition(anchor);
        selection.setPosition(position, QTextCursor::KeepAnchor);
        log_.setTextCursor(selection);
    }
    int End() { return log_.document()->characterCount() - 1; }
    std::string TopLine() {
        return log_.cursorForPosition(QPoint(10, 10)).block().text().toStdString();
    }

    CTerminalLogCtrl log_;
    int next_ = 0;
};

TEST_F(ShownLog, FollowsTheEndWhileTheEndIsInView) {
    AppendLines(3);
    EXPECT_EQ(Bar()->maximum(), 0) << "three lines fit";
    AppendLines(200);
    ASSERT_GT(Bar()->maximum(), 0);
    EXPECT_TRUE(ShowsTheEnd());
    // One append at a time, the way echo records arrive.
    for (int i = 0; i < 20; ++i) {
        AppendLines(1);
        ASSERT_TRUE(ShowsTheEnd()) << i;
    }
    // A couple of pixels short of the bottom, the last line is still on screen: that is the end.
    Bar()->setValue(Bar()->maximum() - 2);
    AppendLines(1);
    EXPECT_TRUE(ShowsTheEnd());
    log_.resize(400, 120);
    Settle();
    EXPECT_TRUE(ShowsTheEnd()) << "a shorter window";
}

TEST_F(ShownLog, AReaderWhoScrolledBackKeepsTheirPlaceAndSelection) {
    AppendLines(200);
    Select(30, 45);
    const QString selected = log_.textCursor().selectedText();
    const int reading = Bar()->maximum() / 2;
    Bar()->setValue(reading);
    const int maximumBefore = Bar()->maximum();
    AppendLines(100);
    EXPECT_GT(Bar()->maximum(), maximumBefore);
    EXPECT_EQ(Bar()->value(), reading);
    log_.resize(400, 100);
    Settle();
    EXPECT_EQ(Bar()->value(), reading) << "a shorter window";
    EXPECT_EQ(log_.textCursor().anchor(), 30);
    EXPECT_EQ(log_.textCursor().position(), 45);
    EXPECT_EQ(log_.textCursor().selectedText(), selected);

    // A selection that reaches the end is not stretched over what comes after it, and putting
    // it back does not drag the view along.
    const int end = End();
    Select(end - 5, end);
    Bar()->setValue(reading);
    AppendLines(10);
    EXPECT_EQ(log_.textCursor().anchor(), end - 5);
    EXPECT_EQ(log_.textCursor().position(), end);
    EXPECT_EQ(Bar()->value(), reading);

    // Back at the end, the view follows again; a caret sitting there stays where it is.
    const int newEnd = End();
    Select(newEnd, newEnd);
    Bar()->setValue(Bar()->maximum());
    AppendLines(10);
    EXPECT_EQ(log_.textCursor().position(), newEnd);
    EXPECT_FALSE(log_.textCursor().hasSelection());
    EXPECT_TRUE(ShowsTheEnd());
}

// Every match is highlighted; next and previous go round the ends, from wherever the selection
// is; a search that finds nothing leaves the selection alone.
TEST_F(ShownLog, FindHighlightsEveryMatchAndStepsRoundTheEnds) {
    AppendLines(200);  // "line 1", "line 10" to "line 19", "line 100" to "line 199": 111 matches
    struct Step {
        const char* text;
        bool backward;
        int matches;
        int current;
        QString selected;
    };
    const Step steps[] = {
        {"LINE 1", false, 111, 1, "line 1"},   {"line 1", false, 111, 2, "line 1"},
        {"line 1", true, 111, 1, "line 1"},    {"line 1", true, 111, 111, "line 1"},
        {"line 1", false, 111, 1, "line 1"},   {"ne 19", false, 11, 1, "ne 19"},
        {"line 199", false, 1, 1, "line 199"}, {"line 199", true, 1, 1, "line 199"},
        {"line 1990", false, 0, 0, "line 199"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.text);
        const CTerminalLogCtrl::FindResult found = log_.Find(step.text, step.backward);
        EXPECT_EQ(found.matches, step.matches);
        EXPECT_EQ(found.current, step.current);
        EXPECT_EQ(log_.extraSelections().size(), step.matches);
        EXPECT_EQ(log_.textCursor().selectedText(), step.selected);
    }
}

TEST_F(ShownLog, DroppingTheOldestLinesMovesNeitherAReaderNorTheirSelection) {
    log_.SetMaximumLines(300);
    AppendLines(250);
    Select(log_.document()->findBlockByNumber(200).position(),
           log_.document()->findBlockByNumber(200).position() + 12);
    const QString selected = log_.textCursor().selectedText();
    Bar()->setValue(Bar()->maximum() / 2);
    for (int round = 0; round < 2; ++round) {
        const int reading = Bar()->value();
        const std::string top = TopLine();
        AppendLines(60);
        ASSERT_LE(log_.document()->blockCount(), 300) << "the oldest lines went";
        EXPECT_LT(Bar()->value(), reading);
        EXPECT_EQ(TopLine(), top);
        EXPECT_EQ(log_.textCursor().selectedText(), selected);
    }
    // At the end, the view goes on following through every trim.
    Bar()->setValue(Bar()->maximum());
    for (int i = 0; i < 10; ++i) {
        AppendLines(40);
        ASSERT_TRUE(ShowsTheEnd()) << i;
    }
}

}  // namespace
