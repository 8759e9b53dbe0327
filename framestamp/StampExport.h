#pragma once
// StampExport: the export loop of Framestamp. Copies a recording into a new AVI file at a
// constant 30 frames per second, with the recording date and/or time of every frame drawn at
// the picture's bottom-left corner, and leaves empty positions where the recording has gaps.
// Positions of the input that hold neither a picture nor a time (the gaps of an earlier stamped
// copy) are passed over, so a stamped copy can be stamped again. Used by the dialogs (on a
// worker thread) and by the command line; it knows nothing of windows.
// Drawing needs a QGuiApplication (for the fonts); the loop itself uses Qt only to draw.
//
//   StampExport job;
//   auto r = job.run(in, out, options, [](int done, int total) { ... }, &cancel);

#include <QColor>
#include <QImage>
#include <QLocale>
#include <QRect>
#include <QString>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Shared.h"

namespace fsv::framestamp {

inline constexpr int kFramesPerSecond = 30;
// The longest gap between two frames that is kept as empty positions. A longer one (a clock
// that jumped, a time text from another day) is not filled: the frames follow each other and
// the gap is reported.
inline constexpr int kMaxFilledGapMs = 60 * 1000;
inline constexpr uint32_t kBlack = 0x000000;
inline constexpr uint32_t kWhite = 0xFFFFFF;

struct StampOptions {
    bool showDate = true;
    bool showTime = true;
    uint32_t textColour = kBlack;  // kBlack or kWhite (COLORREF)
};

// Empty positions left between a frame at `current` and the next one at `next`: the gap in
// milliseconds (time of day only; dates are ignored) at 30 frames per second, minus the two
// frames a normal spacing already accounts for. A next frame earlier than the current one
// leaves none.
int gapPositions(const SystemTime& current, const SystemTime& next);

// Whether the time of day is one a clock can show (hour 0-23, minute and second 0-59,
// milliseconds 0-999). A time text with fields beyond these (or negative ones, which wrap
// around) is no time.
bool validTimeOfDay(const SystemTime& t);

// The overlay: the locale's short date (at most 15 characters), then " HH:MM:SS". Empty with
// both options off. A date that is not a valid day gives no date text.
QString overlayText(const SystemTime& t, const StampOptions& options,
                    const QLocale& locale = QLocale::system());

// Qt's filter syntax for a file dialog filter in the "Description|pattern|...||" form:
// "AVI File(*.AVI)|*.avi||" -> "AVI File (*.avi *.AVI)". Patterns also match in upper case, as
// they do where the recordings are made.
QString qtFileFilter(const QString& filter);

enum class ExportResult {
    Finished,    // every frame copied
    Incomplete,  // every readable frame copied, but the input holds fewer than it declares
    Failed,      // unreadable time stamp, missing frame, writer failure, no frames
    Cancelled,   // stopped by the user
};

// Where the time of one export goes, in seconds of processor time (for the benchmark).
struct ExportTimes {
    double read = 0;    // time stamps and decoding
    double draw = 0;    // copying into the surface and drawing the text
    double encode = 0;  // compressing and writing the samples
};

class StampExport {
  public:
    using Progress = std::function<void(int done, int total)>;

    // `progress` is called with 0 and the frame count once the input is open, then after every
    // frame. `cancel` (may be null) is looked at after every frame.
    ExportResult run(const std::filesystem::path& input, const std::filesystem::path& output,
                     const StampOptions& options, const Progress& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

    // The locale of the date text (the user's by default).
    void setLocale(const QLocale& locale) { locale_ = locale; }
    // Samples written and empty positions left by the last run.
    int64_t positions() const { return positions_; }
    const ExportTimes& times() const { return times_; }
    // Why the last run failed or was incomplete, in a few words (empty when it was neither).
    const std::string& error() const { return error_; }
    // What the last run did not copy as it was: gaps left unfilled (one line each).
    const std::vector<std::string>& notes() const { return notes_; }

    // The rectangle the overlay text covers on a picture of `height` rows (top-down).
    static QRect textRect(const QString& text, int height);

  private:
    ExportResult fail(std::string why);
    ExportResult copy(const std::filesystem::path& input, const std::filesystem::path& output,
                      const StampOptions& options, const Progress& progress,
                      const std::atomic<bool>* cancel);
    ExportResult checkCut(ExportResult result, uint32_t declared, int readable);
    void noteLongGap(const SystemTime& current, const SystemTime& next, int frame);

    QLocale locale_ = QLocale::system();
    int64_t positions_ = 0;
    ExportTimes times_;
    std::string error_;
    std::vector<std::string> notes_;
};

}  // namespace fsv::framestamp
