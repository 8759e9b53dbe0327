#include "recordings/EventList.h"

#include "platform/Shared.h"
#include "platform/UserPort.h"

namespace fsv {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

bool inRange(int pos, size_t size) { return pos >= 0 && static_cast<size_t>(pos) < size; }

std::string shownTimeOf(const char t[6]) {
    return std::string(t, 2) + ":" + std::string(t + 2, 2) + ":" + std::string(t + 4, 2);
}

struct MarkedParts {
    bool channel;
    int r, c, d, e;
};

MarkedParts splitMarked(uint64_t id) {
    return {(id >> 63) != 0, static_cast<int>((id >> 41) & 0x3FF),
            static_cast<int>((id >> 31) & 0x3FF), static_cast<int>((id >> 17) & 0x3FFF),
            static_cast<int>(id & 0x1FFFF)};
}

}  // namespace

EventList::EventList(EventListListener* listener) : listener_(listener ? listener : &nobody_) {}

void EventList::setListener(EventListListener* listener) {
    Lock lock(mutex_);
    listener_ = listener ? listener : &nobody_;
}

// ---------------------------------------------------------------- times and positions

bool EventList::parseTime(std::string_view time, uint32_t* out) {
    if (time == kFreeSlot) {
        *out = kFreeTime;
        return true;
    }
    if (time.size() != 6) return false;
    uint32_t v = 0;
    for (char ch : time) {
        if (ch < '0' || ch > '9') return false;
        v = v * 10 + static_cast<uint32_t>(ch - '0');
    }
    *out = v;
    return true;
}

void EventList::writeTime(uint32_t t, char out[6]) {
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<char>('0' + t % 10);
        t /= 10;
    }
}

EventList::Recorder* EventList::recorder(int r) {
    return inRange(r, recorders_.size()) ? &recorders_[r] : nullptr;
}
const EventList::Recorder* EventList::recorder(int r) const {
    return inRange(r, recorders_.size()) ? &recorders_[r] : nullptr;
}
EventList::Channel* EventList::channel(int r, int c) {
    auto* rec = recorder(r);
    return rec && inRange(c, rec->channels.size()) ? &rec->channels[c] : nullptr;
}
const EventList::Channel* EventList::channel(int r, int c) const {
    auto* rec = recorder(r);
    return rec && inRange(c, rec->channels.size()) ? &rec->channels[c] : nullptr;
}
EventList::Day* EventList::day(int r, int c, int d) {
    auto* ch = channel(r, c);
    return ch && inRange(d, ch->days.size()) ? &ch->days[d] : nullptr;
}
const EventList::Day* EventList::day(int r, int c, int d) const {
    auto* ch = channel(r, c);
    return ch && inRange(d, ch->days.size()) ? &ch->days[d] : nullptr;
}
EventList::Event* EventList::event(int r, int c, int d, int e) {
    auto* dy = day(r, c, d);
    return dy && inRange(e, dy->events.size()) ? &dy->events[e] : nullptr;
}
const EventList::Event* EventList::event(int r, int c, int d, int e) const {
    auto* dy = day(r, c, d);
    return dy && inRange(e, dy->events.size()) ? &dy->events[e] : nullptr;
}

// ---------------------------------------------------------------- recorders

void EventList::clearRecorder(Recorder& rec) {
    for (auto& ch : rec.channels)
        for (auto& d : ch.days) events_ -= d.events.size();
    rec.channels.clear();
    rec.channels.shrink_to_fit();
    rec.info = RecorderInfo{};
    rec.info.name = kFreeRecorderName;
    rec.hasVideoDays = rec.hasAudioDays = false;
    // Its marks leave the marked list.
    auto lo = marked_.lower_bound(markedId(false, rec.position, 0, 0, 0));
    auto hi = marked_.lower_bound(markedId(false, rec.position + 1, 0, 0, 0));
    marked_.erase(lo, hi);
    lo = marked_.lower_bound(markedId(true, rec.position, 0, 0, 0));
    hi = marked_.lower_bound(markedId(true, rec.position + 1, 0, 0, 0));
    marked_.erase(lo, hi);
    if (shown_.recorder == rec.position) shown_ = EventRef{};
}

void EventList::removeRecorder(int r) {
    Lock lock(mutex_);
    auto* rec = recorder(r);
    if (!rec || rec->free()) return;
    clearRecorder(*rec);
    listener_->recordersChanged();
    bool anyLeft = false;
    for (auto& x : recorders_) anyLeft |= !x.free();
    if (!anyLeft) {
        shown_ = EventRef{};
        listener_->refresh();
        listener_->title("      ");
    }
}

int EventList::rebuildRecorder(int previous, const RecorderInfo& info) {
    Lock lock(mutex_);
    if (previous >= 0) removeRecorder(previous);
    int pos = -1;
    for (size_t i = 0; i < recorders_.size(); ++i)
        if (recorders_[i].free()) {
            pos = static_cast<int>(i);
            break;
        }
    if (pos < 0) {
        if (recorders_.size() >= kMaxRecorders) return -1;
        pos = static_cast<int>(recorders_.size());
        recorders_.emplace_back();
    }
    Recorder& rec = recorders_[pos];
    rec.info = info;
    if (rec.info.name == kFreeRecorderName) rec.info.name.clear();  // never looks free
    rec.position = pos;
    rec.hasVideoDays = rec.hasAudioDays = false;
    rec.channels.clear();
    listener_->recordersChanged();
    return pos;
}

int EventList::findRecorder(std::string_view text, int* matches) const {
    Lock lock(mutex_);
    int first = -1, n = 0;
    for (auto& rec : recorders_) {
        if (rec.free()) continue;
        const auto& i = rec.info;
        if (i.name == text || i.address == text || i.phone == text || i.id == text ||
            i.password == text) {
            if (first < 0) first = rec.position;
            ++n;
        }
    }
    if (matches) *matches = n;
    return first;
}

std::vector<RecorderRow> EventList::recorders() const {
    Lock lock(mutex_);
    std::vector<RecorderRow> rows;
    for (auto& rec : recorders_)
        if (!rec.free())
            rows.push_back(
                {rec.position, format("%s (%s)", rec.info.name.c_str(), rec.info.address.c_str())});
    return rows;
}

RecorderInfo EventList::recorderInfo(int r) const {
    Lock lock(mutex_);
    auto* rec = recorder(r);
    return rec ? rec->info : RecorderInfo{};
}

int EventList::recorderCount() const {
    Lock lock(mutex_);
    return static_cast<int>(recorders_.size());
}

// ---------------------------------------------------------------- channels

int EventList::addChannel(int r, const std::string& name, int32_t number, bool isAudio) {
    Lock lock(mutex_);
    auto* rec = recorder(r);
    if (!rec || rec->free()) return -1;
    int pos = -1;
    for (size_t i = 0; i < rec->channels.size(); ++i)
        if (rec->channels[i].number == number) {
            pos = static_cast<int>(i);
            break;
        }
    if (pos < 0) {
        if (rec->channels.size() >= kMaxChannels) return -1;
        pos = static_cast<int>(rec->channels.size());
        auto& ch = rec->channels.emplace_back();
        ch.name = name;
        ch.number = number;
    }
    auto& ch = rec->channels[pos];
    (isAudio ? ch.isAudio : ch.isVideo) = true;
    (isAudio ? rec->hasAudioDays : rec->hasVideoDays) = true;
    return channelId(r, pos) % 1000;
}

int EventList::findChannel(int r, int32_t number) const {
    Lock lock(mutex_);
    auto* rec = recorder(r);
    if (!rec) return -1;
    for (size_t i = 0; i < rec->channels.size(); ++i)
        if (rec->channels[i].number == number) return static_cast<int>(i);
    return -1;
}

std::vector<ChannelRow> EventList::channels(int r) const {
    Lock lock(mutex_);
    std::vector<ChannelRow> rows;
    auto* rec = recorder(r);
    if (!rec) return rows;
    for (size_t i = 0; i < rec->channels.size(); ++i) {
        auto& ch = rec->channels[i];
        int c = static_cast<int>(i);
        rows.push_back({c, ch.name, ch.number, isAudioNumber(ch.number), ch.mark,
                        channelKey(channelId(r, c))});
    }
    return rows;
}

bool EventList::channelIsAudio(int r, int c) const {
    Lock lock(mutex_);
    auto* ch = channel(r, c);
    return ch && isAudioNumber(ch->number);
}

// ---------------------------------------------------------------- days

int EventList::addDay(int r, int c, const std::string& date, uint32_t dateId, bool refresh) {
    Lock lock(mutex_);
    auto* ch = channel(r, c);
    if (!ch || ch->days.size() >= kMaxDays) return -1;
    int pos = static_cast<int>(ch->days.size());
    auto& d = ch->days.emplace_back();
    d.date = date;
    d.dateId = dateId;
    d.loaded = false;
    ch->hasDays = true;
    if (refresh && shown_.recorder == r && shown_.channel == c) listener_->refresh();
    return static_cast<int>(daySerial(r, c, pos) % 10000);
}

int EventList::findDay(int r, int c, std::string_view date, uint32_t dateId) const {
    Lock lock(mutex_);
    auto* ch = channel(r, c);
    if (!ch || date == kFreeSlot) return -1;
    for (size_t i = 0; i < ch->days.size(); ++i)
        if (ch->days[i].dateId == dateId && ch->days[i].date == date) return static_cast<int>(i);
    return -1;
}

std::vector<DayRow> EventList::days(int r, int c) const {
    Lock lock(mutex_);
    std::vector<DayRow> rows;
    auto* ch = channel(r, c);
    if (!ch) return rows;
    for (size_t i = 0; i < ch->days.size(); ++i) {
        auto& d = ch->days[i];
        if (d.date == kFreeSlot) continue;
        rows.push_back({static_cast<int>(i), d.date, d.dateId, d.loaded});
    }
    return rows;
}

std::vector<DayToLoad> EventList::daysToLoad(int r, int c, std::string_view start,
                                             std::string_view end) const {
    Lock lock(mutex_);
    std::vector<DayToLoad> out;
    auto* ch = channel(r, c);
    if (!ch) return out;
    for (size_t i = 0; i < ch->days.size(); ++i) {
        auto& d = ch->days[i];
        if (d.date == kFreeSlot || d.loaded) continue;
        if (std::string_view(d.date) < start || std::string_view(d.date) > end) continue;
        out.push_back({static_cast<int>(i), d.date, d.dateId});
    }
    return out;
}

// ---------------------------------------------------------------- events

int EventList::addEvent(int r, int c, int dpos, std::string_view time, uint32_t size,
                        bool refresh) {
    Lock lock(mutex_);
    auto* d = day(r, c, dpos);
    uint32_t t;
    if (!d || d->date == kFreeSlot || !parseTime(time, &t) || t == kFreeTime) return -1;
    if (d->events.size() >= kMaxEvents) return -1;
    int pos = static_cast<int>(d->events.size());
    d->events.push_back({t, size});
    ++events_;
    d->loaded = true;
    if (refresh && shown_.recorder == r && shown_.channel == c && shown_.day == dpos)
        listener_->refresh();
    return pos;
}

int EventList::findEvent(int r, int c, int dpos, std::string_view time) const {
    Lock lock(mutex_);
    auto* d = day(r, c, dpos);
    uint32_t t;
    if (!d || !parseTime(time, &t) || t == kFreeTime) return -1;
    for (size_t i = 0; i < d->events.size(); ++i)
        if (timeOf(d->events[i]) == t) return static_cast<int>(i);
    return -1;
}

std::vector<EventRow> EventList::events(int r, int c, int dpos) const {
    Lock lock(mutex_);
    std::vector<EventRow> rows;
    auto* d = day(r, c, dpos);
    if (!d || d->date == kFreeSlot) return rows;
    const int64_t serial = daySerial(r, c, dpos);
    for (size_t i = 0; i < d->events.size(); ++i) {
        auto& e = d->events[i];
        if (timeOf(e) == kFreeTime) continue;
        char t[6];
        writeTime(timeOf(e), t);
        rows.push_back({static_cast<int>(i), std::string(t, 6), shownTimeOf(t), e.size, markOf(e),
                        eventKey(serial, static_cast<int>(i))});
    }
    return rows;
}

uint32_t EventList::recordingSize(int r, int c, int d, int e) const {
    Lock lock(mutex_);
    auto* ev = event(r, c, d, e);
    return ev ? ev->size : 0;
}

int EventList::eventMark(int r, int c, int d, int e) const {
    Lock lock(mutex_);
    auto* ev = event(r, c, d, e);
    return ev ? markOf(*ev) : -1;
}

size_t EventList::eventCount() const {
    Lock lock(mutex_);
    return events_;
}

void EventList::reserveEvents(int r, int c, int dpos, size_t n) {
    Lock lock(mutex_);
    auto* d = day(r, c, dpos);
    if (!d) return;
    size_t want = std::min<size_t>(d->events.size() + n, kMaxEvents);
    d->events.reserve(want);
}

// ---------------------------------------------------------------- marks

uint64_t EventList::markedId(bool channel, int r, int c, int d, int e) {
    return (uint64_t{channel} << 63) | (static_cast<uint64_t>(r) << 41) |
           (static_cast<uint64_t>(c) << 31) | (static_cast<uint64_t>(d) << 17) |
           static_cast<uint64_t>(e);
}

void EventList::trackMark(uint64_t id, int oldMark, int newMark) {
    if (newMark == 0) {
        marked_.erase(id);
    } else if (oldMark != newMark || !marked_.count(id)) {
        marked_[id] = static_cast<int8_t>(newMark);
    }
}

bool EventList::setMark(int mark, int r, int c, int d, int e) {
    if (mark < kMarkNone || mark > kMarkHighest) return false;
    Lock lock(mutex_);
    if (d < 0 && e < 0) {
        auto* ch = channel(r, c);
        if (!ch) return false;
        int old = ch->mark;
        ch->mark = mark;
        trackMark(markedId(true, r, c, 0, 0), old, mark);
        if (listener_ != &nobody_) listener_->rowChanged(channelKey(channelId(r, c)), mark, {});
        return true;
    }
    auto* ev = event(r, c, d, e);
    if (!ev || timeOf(*ev) == kFreeTime) return false;
    int old = markOf(*ev);
    setMarkOf(*ev, mark);
    trackMark(markedId(false, r, c, d, e), old, mark);
    if (listener_ != &nobody_) {  // the row's texts are made only for someone to show them
        char t[6];
        writeTime(timeOf(*ev), t);
        listener_->rowChanged(eventKey(daySerial(r, c, d), e), mark, shownTimeOf(t));
    }
    return true;
}

std::vector<MarkedEntry> EventList::marked() const {
    Lock lock(mutex_);
    std::vector<MarkedEntry> out;
    out.reserve(marked_.size());
    for (auto [id, mark] : marked_) {
        auto p = splitMarked(id);
        out.push_back(
            {p.channel ? channelKey(channelId(p.r, p.c)) : eventKey(daySerial(p.r, p.c, p.d), p.e),
             mark});
    }
    return out;
}

void EventList::changeSelection(bool added, const EventRef& ref) {
    auto* ev = event(ref.recorder, ref.channel, ref.day, ref.event);
    if (!ev) return;
    SelectionChange ch{added, ref, ev->size, channelIsAudio(ref.recorder, ref.channel)};
    if (added) {
        ++selection_.count;
        selection_.totalSize += ch.size;
        if (ch.audio) ++selection_.audioCount;
    } else {
        if (selection_.count) --selection_.count;
        selection_.totalSize -= std::min<uint64_t>(selection_.totalSize, ch.size);
        if (ch.audio && selection_.audioCount) --selection_.audioCount;
    }
    listener_->selectionChanged(ch);
}

PeriodResult EventList::selectInPeriod(int r, int c, std::string_view d1, std::string_view t1,
                                       std::string_view d2, std::string_view t2) {
    Lock lock(mutex_);
    PeriodResult res;
    auto* ch = channel(r, c);
    if (!ch) return res;
    for (size_t di = 0; di < ch->days.size(); ++di) {
        auto& d = ch->days[di];
        if (d.date == kFreeSlot || d.events.empty()) continue;
        const std::string_view date(d.date);
        if (date < d1 || date > d2) continue;
        const bool first = date == d1, last = date == d2;
        for (size_t ei = 0; ei < d.events.size(); ++ei) {
            auto& e = d.events[ei];
            if (timeOf(e) == kFreeTime) continue;
            char tb[6];
            writeTime(timeOf(e), tb);
            const std::string_view time(tb, 6);
            if (first && time < t1) continue;
            if (last && time > t2) continue;
            if (markOf(e) != kMarkNone) {
                res.alreadySelected = true;
                continue;
            }
            const int dp = static_cast<int>(di), ep = static_cast<int>(ei);
            setMark(kMarkSelected, r, c, dp, ep);
            changeSelection(true, {r, c, dp, ep});
            ++res.selected;
        }
    }
    return res;
}

int EventList::actOnEvent(const EventRef& ref, int requested, UserPort* port) {
    std::unique_lock lock(mutex_);
    auto* ev = event(ref.recorder, ref.channel, ref.day, ref.event);
    if (!ev || timeOf(*ev) == kFreeTime) return -1;
    const int old = markOf(*ev);
    if (requested == kMarkNone) {
        if (old != kMarkNone) setMark(kMarkNone, ref.recorder, ref.channel, ref.day, ref.event);
        if (old == kMarkSelected) changeSelection(false, ref);
        return kMarkNone;
    }
    if (requested == kMarkDownloaded) {
        // The question is asked without the lock: the box waits for the user.
        listener_->controlsEnabled(false);
        lock.unlock();
        const bool again =
            port && port->messageBox(kDownloadAgainText, mb::kYesNo | mb::kIconQuestion, true) ==
                        mb::kIdYes;
        lock.lock();
        listener_->controlsEnabled(true);
        ev = event(ref.recorder, ref.channel, ref.day, ref.event);
        if (!ev || timeOf(*ev) == kFreeTime) return -1;
        if (!again) return markOf(*ev);
        requested = kMarkSelected;
    }
    if (requested != kMarkSelected) return markOf(*ev);
    if (markOf(*ev) == kMarkSelected) return kMarkSelected;
    setMark(kMarkSelected, ref.recorder, ref.channel, ref.day, ref.event);
    changeSelection(true, ref);
    return kMarkSelected;
}

void EventList::applyMarkEntry(uint64_t id, int mark) {
    auto p = splitMarked(id);
    if (p.channel)
        setMark(mark, p.r, p.c);
    else
        setMark(mark, p.r, p.c, p.d, p.e);
}

void EventList::queueSelection() {
    Lock lock(mutex_);
    std::vector<uint64_t> ids;
    for (auto [id, mark] : marked_)
        if (mark == kMarkSelected) ids.push_back(id);
    for (auto id : ids) applyMarkEntry(id, kMarkQueued);
    listener_->refresh();
}

void EventList::clearMarks(int value) {
    Lock lock(mutex_);
    std::vector<uint64_t> ids;
    for (auto [id, mark] : marked_)
        if (mark == value) ids.push_back(id);
    for (auto id : ids) applyMarkEntry(id, kMarkNone);
    if (value == kMarkSelected) selection_ = {};
    listener_->refresh();
}

SelectionTotals EventList::selection() const {
    Lock lock(mutex_);
    return selection_;
}

SelectionTotals EventList::takeSelection() {
    Lock lock(mutex_);
    auto s = selection_;
    selection_ = {};
    return s;
}

// ---------------------------------------------------------------- end-of-stream reports

int EventList::findEventByDate(int r, int c, std::string_view date, std::string_view time,
                               int* dayOut) const {
    auto* ch = channel(r, c);
    if (!ch || date == kFreeSlot) return -1;
    for (size_t i = 0; i < ch->days.size(); ++i) {
        if (ch->days[i].date != date) continue;
        int e = findEvent(r, c, static_cast<int>(i), time);
        if (e >= 0) {
            *dayOut = static_cast<int>(i);
            return e;
        }
    }
    return -1;
}

bool EventList::report(int r, int c, std::string_view date, std::string_view time,
                       PendingMarks* pending, int newMark) {
    Lock lock(mutex_);
    auto* ch = channel(r, c);
    if (!ch) return false;
    if (pending) {
        const uint8_t kind = isAudioNumber(ch->number) ? 1 : 0;
        const uint16_t code = codeOfNumber(ch->number);
        const std::string ds(date), ts(time);
        const bool waiting = newMark < 0 ? pending->remove(kind, code, ds, ts)
                                         : pending->update(kind, code, ds, ts, newMark);
        if (waiting) return true;
    }
    int d = -1;
    int e = findEventByDate(r, c, date, time, &d);
    if (e < 0) return false;
    if (newMark >= 0) return setMark(newMark, r, c, d, e);
    // The recorder could not open it: the event is gone.
    auto& ev = recorders_[r].channels[c].days[d].events[e];
    marked_.erase(markedId(false, r, c, d, e));
    ev.timeMark = kFreeTime;
    if (shown_.recorder == r && shown_.channel == c && shown_.day == d)
        listener_->post(EventListMessage::EventRemoved, d, e);
    return true;
}

bool EventList::reportFinished(int r, int c, std::string_view date, std::string_view time,
                               PendingMarks* pending) {
    return report(r, c, date, time, pending, kMarkDownloaded);
}
bool EventList::reportStopped(int r, int c, std::string_view date, std::string_view time,
                              PendingMarks* pending) {
    return report(r, c, date, time, pending, kMarkNone);
}
bool EventList::reportCannotOpen(int r, int c, std::string_view date, std::string_view time,
                                 PendingMarks* pending) {
    return report(r, c, date, time, pending, -1);
}

// ---------------------------------------------------------------- refresh

std::vector<RememberedDay> EventList::rememberMarks(int r, PendingMarks& pending) const {
    Lock lock(mutex_);
    std::vector<RememberedDay> out;
    auto* rec = recorder(r);
    if (!rec) return out;
    for (size_t c = 0; c < rec->channels.size(); ++c) {
        auto& ch = rec->channels[c];
        const bool audio = isAudioNumber(ch.number);
        for (auto& d : ch.days) {
            if (!d.loaded || d.date == kFreeSlot) continue;
            out.push_back({static_cast<int>(c), audio, d.date, d.dateId});
            for (auto& e : d.events) {
                if (timeOf(e) == kFreeTime || markOf(e) < kMarkQueued) continue;
                char t[6];
                writeTime(timeOf(e), t);
                pending.add({static_cast<uint8_t>(audio ? 1 : 0), codeOfNumber(ch.number), d.date,
                             std::string(t, 6), markOf(e)});
            }
        }
    }
    return out;
}

bool EventList::refreshShownRecorder() {
    Lock lock(mutex_);
    if (shown_.recorder < 0) return false;
    const int r = shown_.recorder;
    listener_->controlsEnabled(false);
    listener_->status(kGettingInformationText);
    clearMarks(kMarkSelected);
    listener_->refreshRecorder(r);
    return true;
}

// ---------------------------------------------------------------- the window

void EventList::setShown(int r, int c, int d) {
    Lock lock(mutex_);
    shown_ = EventRef{recorder(r) ? r : -1, channel(r, c) ? c : -1, day(r, c, d) ? d : -1, -1};
    listener_->refresh();
}

EventRef EventList::shown() const {
    Lock lock(mutex_);
    return shown_;
}

void EventList::setControlsEnabled(bool enabled) {
    Lock lock(mutex_);
    listener_->controlsEnabled(enabled);
}

void EventList::refreshIfShown(int r, int c, int d) {
    Lock lock(mutex_);
    if (shown_.recorder < 0 || shown_.recorder != r) return;
    if (c >= 0 && shown_.channel != c) return;
    if (d >= 0 && shown_.day != d) return;
    listener_->refresh();
}

void EventList::postToWindow(EventListMessage message, intptr_t wParam, intptr_t lParam) {
    Lock lock(mutex_);
    listener_->post(message, wParam, lParam);
}

void EventList::showStatus(const std::string& text) {
    Lock lock(mutex_);
    listener_->status(text);
}

}  // namespace fsv
