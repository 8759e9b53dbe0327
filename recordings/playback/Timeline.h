#pragma once
// What the timeline under the panels draws: one row per camera, of the recorder shown in the
// event list window (its recordings as the event list knows them: a start time, the length
// unknown) and of the local files open in channels (their true extent, from their frames' time
// stamps). Times are stampMs values. The view over it (zoom, pan, the pixels) is a window onto
// this time axis, kept here too so that it is tested without a display.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recordings/EventList.h"

namespace fsv::playback {

struct TimelineSpan {
    int64_t start = 0;
    std::optional<int64_t> end;  // nullopt: the length is not known (drawn as a start mark)
    // A recording of the recorder: where it sits in the event list.
    EventRef event;
    // A local file: its channel position.
    int position = -1;
};

struct TimelineRow {
    enum class Kind { Recorder, Local };
    Kind kind = Kind::Recorder;
    std::string label;
    std::vector<TimelineSpan> spans;  // by start
};

// The span of `row` under time `t`: one that covers it, or a start mark within `slack` ms (the
// nearest when several are in reach).
std::optional<TimelineSpan> spanAt(const TimelineRow& row, int64_t t, int64_t slack);

// A local file as the timeline sees it.
struct LocalExtent {
    int position = -1;
    std::string caption;
    int64_t first = 0, last = 0;  // its first and last frames' time stamps
};

class TimelineModel {
  public:
    // The cameras of `recorder` in the event list (audio channels left out), one row each,
    // with every recording of every day that has been listed. -1: none.
    void setRecorder(const EventList& list, int recorder);
    void setLocal(const std::vector<LocalExtent>& files);

    // Recorder rows first, then the local files.
    std::vector<TimelineRow> rows() const;
    // The earliest start and the latest end (or start) over all rows.
    std::optional<std::pair<int64_t, int64_t>> extent() const;
    // The span of `row` under time `t`: one that covers it, or a start mark within `slack` ms.
    // The nearest start mark wins when several are in reach.
    std::optional<TimelineSpan> spanAt(int row, int64_t t, int64_t slack) const;

  private:
    std::vector<TimelineRow> recorder_, local_;
};

// The piece of the time axis on show, `width` pixels wide: from a whole day down to seconds.
class TimelineWindow {
  public:
    static constexpr int64_t kMinSpan = 5'000;           // five seconds
    static constexpr int64_t kMaxSpan = 24 * 3'600'000;  // one day

    void setWidth(int pixels);
    int width() const { return width_; }
    int64_t start() const { return start_; }
    int64_t span() const { return span_; }
    void show(int64_t start, int64_t span);
    // Shows [first, last] with a little room either side.
    void fit(int64_t first, int64_t last);
    // Zooms in (factor < 1) or out (factor > 1) around pixel `x`, which keeps its time.
    void zoom(double factor, int x);
    // Moves by `pixels` (positive: later times come into view).
    void pan(int pixels);
    // Keeps `t` on show, moving as little as needed.
    void reveal(int64_t t);

    double xOf(int64_t t) const;
    int64_t timeAt(int x) const;

  private:
    int width_ = 1;
    int64_t start_ = 0;
    int64_t span_ = kMaxSpan;
};

}  // namespace fsv::playback
