#include "recordings/playback/Timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "recordings/playback/SyncClock.h"

namespace fsv::playback {

namespace {

int digits(const std::string& s, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// A day "YYYYMMDD" and a time "HHMMSS" of the event list as stampMs; nullopt when either is
// not in that form (a free slot).
std::optional<int64_t> eventStart(const std::string& date, const std::string& time) {
    const int y = digits(date, 0, 4), mo = digits(date, 4, 2), d = digits(date, 6, 2);
    const int h = digits(time, 0, 2), mi = digits(time, 2, 2), s = digits(time, 4, 2);
    if (date.size() != 8 || time.size() != 6 || y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 ||
        h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return std::nullopt;
    SystemTime t;
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint16_t>(mo);
    t.day = static_cast<uint16_t>(d);
    t.hour = static_cast<uint16_t>(h);
    t.minute = static_cast<uint16_t>(mi);
    t.second = static_cast<uint16_t>(s);
    return stampMs(t);
}

}  // namespace

void TimelineModel::setRecorder(const EventList& list, int recorder) {
    recorder_.clear();
    if (recorder < 0) return;
    std::lock_guard lock(list.lock());
    const std::string name = list.recorderInfo(recorder).name;
    for (const auto& ch : list.channels(recorder)) {
        if (ch.audio) continue;
        TimelineRow row;
        row.kind = TimelineRow::Kind::Recorder;
        row.label = name + " " + ch.name;
        for (const auto& day : list.days(recorder, ch.position))
            for (const auto& ev : list.events(recorder, ch.position, day.position))
                if (auto start = eventStart(day.date, ev.time)) {
                    TimelineSpan s;
                    s.start = *start;
                    s.event = {recorder, ch.position, day.position, ev.position};
                    row.spans.push_back(s);
                }
        std::stable_sort(row.spans.begin(), row.spans.end(),
                         [](const auto& a, const auto& b) { return a.start < b.start; });
        recorder_.push_back(std::move(row));
    }
}

void TimelineModel::setLocal(const std::vector<LocalExtent>& files) {
    local_.clear();
    for (const auto& f : files) {
        TimelineRow row;
        row.kind = TimelineRow::Kind::Local;
        row.label = f.caption;
        TimelineSpan s;
        s.start = f.first;
        s.end = std::max(f.first, f.last);
        s.position = f.position;
        row.spans.push_back(s);
        local_.push_back(std::move(row));
    }
}

std::vector<TimelineRow> TimelineModel::rows() const {
    std::vector<TimelineRow> out = recorder_;
    out.insert(out.end(), local_.begin(), local_.end());
    return out;
}

std::optional<std::pair<int64_t, int64_t>> TimelineModel::extent() const {
    std::optional<std::pair<int64_t, int64_t>> out;
    for (const auto* rows : {&recorder_, &local_})
        for (const auto& r : *rows)
            for (const auto& s : r.spans) {
                const int64_t end = s.end.value_or(s.start);
                if (!out)
                    out = {s.start, end};
                else
                    out = {std::min(out->first, s.start), std::max(out->second, end)};
            }
    return out;
}

std::optional<TimelineSpan> spanAt(const TimelineRow& row, int64_t t, int64_t slack) {
    std::optional<TimelineSpan> best;
    int64_t bestDistance = 0;
    for (const auto& s : row.spans) {
        if (s.end && t >= s.start && t <= *s.end) return s;
        const int64_t d = std::llabs(t - s.start);
        if (!s.end && d <= slack && (!best || d < bestDistance)) {
            best = s;
            bestDistance = d;
        }
    }
    return best;
}

std::optional<TimelineSpan> TimelineModel::spanAt(int row, int64_t t, int64_t slack) const {
    const size_t r = static_cast<size_t>(row);
    if (row < 0 || r >= recorder_.size() + local_.size()) return std::nullopt;
    return playback::spanAt(r < recorder_.size() ? recorder_[r] : local_[r - recorder_.size()], t,
                            slack);
}

void TimelineWindow::setWidth(int pixels) { width_ = std::max(pixels, 1); }

void TimelineWindow::show(int64_t start, int64_t span) {
    span_ = std::clamp(span, kMinSpan, kMaxSpan);
    start_ = start;
}

void TimelineWindow::fit(int64_t first, int64_t last) {
    const int64_t span = std::max<int64_t>(last - first, 0);
    const int64_t room = std::max<int64_t>(span / 20, 1000);
    show(first - room, span + 2 * room);
    if (span_ > span + 2 * room) start_ = first - (span_ - span) / 2;  // a short extent: centred
}

void TimelineWindow::zoom(double factor, int x) {
    const int64_t anchor = timeAt(x);
    const int64_t span =
        std::clamp<int64_t>(std::llround(static_cast<double>(span_) * factor), kMinSpan, kMaxSpan);
    const double share = static_cast<double>(std::clamp(x, 0, width_)) / width_;
    span_ = span;
    start_ = anchor - std::llround(share * static_cast<double>(span_));
}

void TimelineWindow::pan(int pixels) {
    start_ += std::llround(static_cast<double>(pixels) * static_cast<double>(span_) / width_);
}

void TimelineWindow::reveal(int64_t t) {
    if (t < start_)
        start_ = t;
    else if (t > start_ + span_)
        start_ = t - span_;
}

double TimelineWindow::xOf(int64_t t) const {
    return static_cast<double>(t - start_) * width_ / static_cast<double>(span_);
}

int64_t TimelineWindow::timeAt(int x) const {
    return start_ + std::llround(static_cast<double>(x) * static_cast<double>(span_) / width_);
}

}  // namespace fsv::playback
