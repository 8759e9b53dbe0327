#include "recordings/RecorderCatalog.h"

namespace fsv {

namespace {
// A time of day is written with six digits; a larger number cannot name a recording.
constexpr uint32_t kLargestTime = 999999;
}  // namespace

RecorderCatalog::RecorderCatalog(EventList& list, RecorderLink& link, DateQueryWaiter* waiter)
    : list_(list), link_(link), waiter_(waiter) {}

RecorderCatalog::~RecorderCatalog() = default;

std::vector<RecorderCatalog::Channel> RecorderCatalog::cameras() const {
    std::lock_guard lock(channelsMutex_);
    return cameras_;
}

std::vector<RecorderCatalog::Channel> RecorderCatalog::audioChannels() const {
    std::lock_guard lock(channelsMutex_);
    return audio_;
}

int RecorderCatalog::channelOfCode(net::ChannelKind kind, uint16_t code) const {
    std::lock_guard lock(channelsMutex_);
    if (kind != net::kCamera && kind != net::kAudio) return -1;
    const auto& index = kind == net::kCamera ? cameraIndex_ : audioIndex_;
    auto it = index.find(code);
    if (it == index.end()) return -1;
    return (kind == net::kCamera ? cameras_ : audio_)[it->second].position;
}

uint16_t RecorderCatalog::codeOfChannel(net::ChannelKind kind, int channel) const {
    std::lock_guard lock(channelsMutex_);
    if (kind != net::kCamera && kind != net::kAudio) return 0;
    for (auto& c : kind == net::kCamera ? cameras_ : audio_)
        if (c.position == channel && channel >= 0) return c.code;
    return 0;
}

// ---------------------------------------------------------------- server information

// Gives the recorder its entry: a first one, or with `rebuild` a new one in place of the old,
// holding again every channel the recorder has named.
int RecorderCatalog::ensureEntry(bool rebuild) {
    const int old = number_.load();
    if (old >= 0 && !rebuild) return old;
    const int now = list_.rebuildRecorder(old, link_.recorderInfo());
    number_ = now;
    std::vector<Channel> cams, auds;
    {
        std::lock_guard lock(channelsMutex_);
        cams = cameras_;
        auds = audio_;
    }
    for (auto& c : cams) c.position = list_.addChannel(now, c.name, cameraNumber(c.code), false);
    for (auto& c : auds) c.position = list_.addChannel(now, c.name, audioNumber(c.code), true);
    std::lock_guard lock(channelsMutex_);
    if (cameras_.size() == cams.size() && audio_.size() == auds.size()) {
        cameras_ = std::move(cams);
        audio_ = std::move(auds);
    }
    return now;
}

int RecorderCatalog::addChannel(net::ChannelKind kind, uint16_t code, const std::string& name) {
    const bool audio = kind == net::kAudio;
    const int pos = list_.addChannel(number_.load(), name,
                                     audio ? audioNumber(code) : cameraNumber(code), audio);
    std::lock_guard lock(channelsMutex_);
    auto& table = audio ? audio_ : cameras_;
    auto [it, added] = (audio ? audioIndex_ : cameraIndex_).try_emplace(code, table.size());
    if (added)
        table.push_back({code, name, pos});
    else
        table[it->second].position = pos;
    return pos;
}

void RecorderCatalog::addDays(int channel, const std::vector<net::ServerInfoDay>& days) {
    if (channel < 0) return;
    const int r = number_.load();
    for (auto& day : days) {
        std::lock_guard lock(list_.lock());
        // A day the recorder names twice is kept once.
        if (list_.findDay(r, channel, day.text, day.dateId) < 0)
            list_.addDay(r, channel, day.text, day.dateId);
    }
}

void RecorderCatalog::handleServerInfo(const net::ServerInfo& info, bool refresh) {
    const int old = number_.load();
    const int now = ensureEntry(refresh);
    for (auto& c : info.cameras) addDays(addChannel(net::kCamera, c.code, c.name), c.days);
    for (auto& c : info.audio) addDays(addChannel(net::kAudio, c.code, c.name), c.days);
    {
        std::lock_guard lock(list_.lock());
        list_.refreshIfShown(now);
    }
    if (old != now && onConnectionNumber) onConnectionNumber(old, now);
}

void RecorderCatalog::removeEntry() {
    const int r = number_.exchange(-1);
    if (r >= 0) list_.removeRecorder(r);
}

std::vector<RememberedDay> RecorderCatalog::rememberMarks() {
    const int r = number_.load();
    if (r < 0) return {};
    return list_.rememberMarks(r, pending_);
}

// ---------------------------------------------------------------- date query

platform::Event* RecorderCatalog::sendDateQuery(int channel, net::ChannelKind kind,
                                                const std::string& date, uint32_t dateId) {
    const bool dialog = waiter_ && waiter_->busy.load();
    if (!dialog) {
        link_.setGettingInformation(true);
        list_.showStatus(kGettingInformationText);
    }
    net::DateQuery q;
    q.kind = kind;
    q.code = codeOfChannel(kind, channel);
    q.date = date;
    q.dateId = dateId;
    std::optional<net::Bytes> bytes;
    if (q.code != 0) bytes = net::encodeDateQuery(q);
    if (bytes && link_.send(*bytes, nullptr)) return &link_.stopEvent();
    // Nothing will answer: the waiting ends here.
    if (!dialog) {
        link_.setGettingInformation(false);
        list_.showStatus("");
    }
    list_.postToWindow(EventListMessage::Waiting, 1, 0);
    return nullptr;
}

bool RecorderCatalog::openDay(int channel, int day) {
    const int r = number_.load();
    DayRow row{};
    bool found = false;
    {
        std::lock_guard lock(list_.lock());
        for (auto& d : list_.days(r, channel))
            if (d.position == day) {
                row = d;
                found = true;
            }
        if (!found) return false;
        list_.setShown(r, channel, day);
        if (row.loaded) return false;
        list_.postToWindow(EventListMessage::Waiting, 0, 0);
    }
    const auto kind = list_.channelIsAudio(r, channel) ? net::kAudio : net::kCamera;
    return sendDateQuery(channel, kind, row.date, row.dateId) != nullptr;
}

bool RecorderCatalog::handleDateReply(std::span<const uint8_t> message) {
    auto reply = net::parseDateReply(message, link_.version());
    if (!reply) return false;
    const auto kind = static_cast<net::ChannelKind>(reply->kind);
    const int ch = channelOfCode(kind, reply->code);
    if (ch < 0) return false;  // a channel this recorder never named: nobody is woken
    const int r = number_.load();
    {
        std::lock_guard lock(list_.lock());
        const int d = list_.findDay(r, ch, reply->date, reply->dateId);
        if (d >= 0) {
            list_.reserveEvents(r, ch, d, reply->items.size());
            for (auto& item : reply->items) {
                if (item.time > kLargestTime) continue;
                const std::string time = net::timeText(item.time);
                int e = list_.findEvent(r, ch, d, time);
                if (e < 0) e = list_.addEvent(r, ch, d, time, item.size, false);
                if (e < 0) continue;
                auto mark = pending_.take(kind, reply->code, reply->date, time);
                if (mark && list_.eventMark(r, ch, d, e) == kMarkNone)
                    list_.setMark(*mark, r, ch, d, e);
            }
        }
    }
    const bool dialog = waiter_ && waiter_->busy.load();
    if (dialog) {
        // Whoever waits for reply-OK is told before the dialog wakes: once awake, the dialog's
        // thread may create a reply-OK event of its own, which this reply must not set.
        link_.setReplyOk();
        waiter_->reply.set();
        return true;
    }
    {
        std::lock_guard lock(list_.lock());
        list_.refreshIfShown(r);
        link_.setGettingInformation(false);
        list_.showStatus("");
        list_.postToWindow(EventListMessage::Waiting, 1, 0);
    }
    link_.setReplyOk();
    return true;
}

}  // namespace fsv
