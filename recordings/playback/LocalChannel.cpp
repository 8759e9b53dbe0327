#include "recordings/playback/LocalChannel.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "media/AviReader.h"
#include "platform/UserPort.h"

namespace fsv::playback {

namespace {

int64_t msOfDay(const SystemTime& t) {
    return ((static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
}

// The time of frame `index` when its stamp cannot be read: frame 0's time plus the frames'
// nominal period.
SystemTime nominalTime(const SystemTime& first, const media::AviStreamInfo& info, int index) {
    SystemTime t = first;
    if (info.rate == 0 || info.scale == 0) return t;
    int64_t ms = msOfDay(first) + static_cast<int64_t>(index) * 1000 * info.scale / info.rate;
    ms %= 24LL * 3600 * 1000;
    t.milliseconds = static_cast<uint16_t>(ms % 1000);
    t.second = static_cast<uint16_t>(ms / 1000 % 60);
    t.minute = static_cast<uint16_t>(ms / 60000 % 60);
    t.hour = static_cast<uint16_t>(ms / 3600000);
    return t;
}

// Every frame's stamp as stampMs, ascending: a stamp without a date takes frame 0's date and
// the next day once the time of day runs backwards by half a day or more (midnight passed); a
// stamp that goes back a little is held at the one before.
std::vector<int64_t> readFrameTimes(media::AviReader& reader, const SystemTime& first,
                                    const media::AviStreamInfo& info, int count) {
    std::vector<int64_t> times;
    times.reserve(static_cast<size_t>(count));
    int64_t dayShift = 0;
    for (int i = 0; i < count; ++i) {
        SystemTime work = first;
        if (!reader.readTimeStamp(i, work)) work = nominalTime(first, info, i);
        int64_t t = stampMs(work) + dayShift;
        if (!times.empty() && t < times.back() - 12 * 3600000LL) {
            dayShift += 24 * 3600000LL;
            t += 24 * 3600000LL;
        }
        if (!times.empty()) t = std::max(t, times.back());
        times.push_back(t);
    }
    return times;
}

}  // namespace

std::string localCaption(const CaptionParts& parts, int position) {
    std::string caption;
    int count = 0;
    if (parts.serverName || parts.cameraName) {
        caption = " Local File";
        ++count;
    }
    if (parts.channelNumber) {
        if (count == 0)
            caption = format("%d", position + 1);
        else
            caption = format("%d.", position + 1) + caption;
    }
    return caption;
}

uint32_t localPacingWait(const SystemTime& current, const SystemTime& next, uint32_t elapsed,
                         uint8_t fast, uint8_t slow) {
    if (slow <= 1 && elapsed > 1000) return 0;
    int64_t wait = msOfDay(next) - msOfDay(current) - static_cast<int64_t>(elapsed);
    wait = std::clamp<int64_t>(wait, 0, 3000);
    if (fast > 1) return static_cast<uint32_t>(wait / fast);
    if (slow > 1) return static_cast<uint32_t>(slow * std::max<int64_t>(wait, 1));
    return static_cast<uint32_t>(wait);
}

LocalChannel::LocalChannel(Options options)
    : options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : systemClock_),
      exit_(options_.exitEvent ? *options_.exitEvent : noExit_),
      parts_(options_.captions) {}

LocalChannel::~LocalChannel() {
    stop();
    follow(nullptr);
}

void LocalChannel::stop() {
    stop_.set();
    if (thread_.joinable()) thread_.join();
}

bool LocalChannel::start(const std::filesystem::path& path, bool userOpened, int position,
                         const std::string& id, const std::string& password) {
    if (thread_.joinable()) return false;
    path_ = path;
    userOpened_ = userOpened;
    if (!userOpened) {
        std::lock_guard lock(mutex_);
        position_ = position;
        credential_ = id + ":" + password;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void LocalChannel::setPaused(bool pause) {
    if (!pause) {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        running_.set();
        notifyPosition();  // the control panel shows the change whoever asked for it
        return;
    }
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    // Setting and clearing the wake event cuts a pacing wait that is running now.
    wake_.set();
    running_.reset();
    wake_.reset();
    notifyPosition();
}

void LocalChannel::command(uint8_t code) {
    {
        std::lock_guard lock(mutex_);
        switch (code) {
            case kToLast:
                command_ = frameCount_ > 0 ? frameCount_ - 1 : 0;
                atEnd_ = true;
                lastFrameGuard_ = false;
                break;
            case kToFirst:
                command_ = 0;
                break;
            case kStepBack:
                command_ = -1;
                break;
            case kStepForward:
                command_ = -2;
                break;
            default:
                return;
        }
        ++pending_;
    }
    wake_.set();
}

bool LocalChannel::goTo(uint32_t frame) {
    {
        std::lock_guard lock(mutex_);
        if (frameCount_ <= 0 || frame >= static_cast<uint32_t>(frameCount_)) return false;
        command_ = static_cast<int32_t>(frame);
        ++pending_;
    }
    wake_.set();
    return true;
}

void LocalChannel::faster() {
    bool wake;
    {
        std::lock_guard lock(mutex_);
        if (slow_ > 1)
            slow_ = static_cast<uint8_t>(slow_ / 2);
        else if (fast_ < kMaxFast)
            fast_ = static_cast<uint8_t>(fast_ * 2);
        wake = !paused_;
    }
    if (wake) wake_.set();
    notifyPosition();
}

void LocalChannel::slower() {
    {
        std::lock_guard lock(mutex_);
        if (fast_ > 1)
            fast_ = static_cast<uint8_t>(fast_ / 2);
        else if (slow_ < kMaxSlow)
            slow_ = static_cast<uint8_t>(slow_ * 2);
    }
    notifyPosition();
}

void LocalChannel::setNoWait(bool on) {
    {
        std::lock_guard lock(mutex_);
        noWait_ = on;
    }
    wake_.set();
}

void LocalChannel::attach(client::FrameSlot* slot, client::PanelId panel) {
    {
        std::lock_guard lock(frameMutex_);
        slot_ = slot;
        panel_ = slot ? panel : -1;
    }
    if (!slot) return;
    // The new panel gets the frame on show at once, even while paused.
    std::lock_guard bits(bitmapMutex_);
    std::lock_guard frame(frameMutex_);
    if (picture_ && slot->put(picture_).value_or(false) && options_.queue)
        options_.queue->push(client::FrameReady{panel});
}

void LocalChannel::setChannelPosition(int position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    rebuildCaptionLocked();
}

void LocalChannel::setCaptionParts(const CaptionParts& parts) {
    std::lock_guard lock(mutex_);
    parts_ = parts;
    rebuildCaptionLocked();
}

void LocalChannel::rebuildCaptionLocked() {
    caption_ = localCaption(parts_, position_);
    if (loading_) caption_ += " - Loading...";
}

std::string LocalChannel::windowName() const { return "Local File - " + path_.string(); }

std::string LocalChannel::caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}
int LocalChannel::channelPosition() const {
    std::lock_guard lock(mutex_);
    return position_;
}
int LocalChannel::frameCount() const {
    std::lock_guard lock(mutex_);
    return frameCount_;
}
uint32_t LocalChannel::currentFrame() const {
    std::lock_guard lock(mutex_);
    return current_;
}
SystemTime LocalChannel::currentTime() const {
    std::lock_guard lock(mutex_);
    return currentTime_;
}
bool LocalChannel::paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}
bool LocalChannel::atEnd() const {
    std::lock_guard lock(mutex_);
    return holding_;
}
bool LocalChannel::loading() const {
    std::lock_guard lock(mutex_);
    return loading_;
}
bool LocalChannel::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}
uint8_t LocalChannel::fastFactor() const {
    std::lock_guard lock(mutex_);
    return fast_;
}
uint8_t LocalChannel::slowFactor() const {
    std::lock_guard lock(mutex_);
    return slow_;
}
int LocalChannel::speed() const {
    std::lock_guard lock(mutex_);
    return fast_ > 1 ? fast_ : -static_cast<int>(slow_);
}
uint64_t LocalChannel::framesShown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::optional<LocalChannel::Frame> LocalChannel::pausedFrame() const {
    if (!paused()) return std::nullopt;
    std::shared_ptr<const media::DecodedPicture> picture;
    {
        std::lock_guard lock(bitmapMutex_);
        picture = picture_;
    }
    if (!picture) return std::nullopt;
    // Made now, from the picture by reference, off the bitmap lock.
    Frame frame{media::BitmapInfoHeader::rgb24(picture->width(), picture->height()),
                picture->bottomUp24()};
    if (frame.bits.empty()) return std::nullopt;
    return frame;
}

void LocalChannel::follow(SyncClock* clock) {
    {
        std::lock_guard sync(syncMutex_);
        if (sync_ == clock) return;
        if (sync_) sync_->unsubscribe(&wake_);
        sync_ = clock;
        if (clock) clock->subscribe(&wake_);
    }
    bool paused;
    {
        std::lock_guard lock(mutex_);
        noRecording_ = false;
        shownIndex_ = -1;
        if (!clock && !loading_) {
            // Back to its own pacing from the frame on show: the thread shows it again first.
            command_ = static_cast<int32_t>(current_);
            pending_ = 1;
            atEnd_ = false;
            holding_ = false;
        }
        paused = paused_;
    }
    if (!clock) {
        if (paused)
            running_.reset();
        else
            running_.set();
    }
    wake_.set();
    notifyPosition();
}

SyncClock* LocalChannel::syncClock() const {
    std::lock_guard lock(syncMutex_);
    return sync_;
}

bool LocalChannel::noRecording() const {
    std::lock_guard lock(mutex_);
    return noRecording_;
}

std::shared_ptr<const std::vector<int64_t>> LocalChannel::frameTimes() const {
    std::lock_guard lock(mutex_);
    return times_;
}

int64_t LocalChannel::framePeriod() const {
    std::lock_guard lock(mutex_);
    return period_;
}

bool LocalChannel::followStep(media::AviReader& reader) {
    // Cleared before the clock is read: a change after the read sets it again.
    wake_.reset();
    int64_t t;
    {
        std::lock_guard sync(syncMutex_);
        if (!sync_) return true;
        t = sync_->now();
    }
    std::shared_ptr<const std::vector<int64_t>> times;
    int64_t period;
    {
        std::lock_guard lock(mutex_);
        times = times_;
        period = period_;
    }
    const int index = frameAtOrBefore(*times, t);
    const bool none = index < 0 || t > times->back() + period;
    bool changed;
    int shownIndex;
    {
        std::lock_guard lock(mutex_);
        shownIndex = shownIndex_;
        // A frame about to be shown clears the mark together with its time (showFrame).
        const bool mark = none || index == shownIndex ? none : noRecording_;
        changed = noRecording_ != mark;
        noRecording_ = mark;
    }
    bool shown = false;
    if (!none && index != shownIndex) {
        if (auto picture = reader.getPicture(index)) {
            {
                std::lock_guard lock(mutex_);
                current_ = static_cast<uint32_t>(index);
                shownIndex_ = index;
                if (loading_) {
                    loading_ = false;
                    rebuildCaptionLocked();
                }
            }
            showFrame(std::move(picture), stampTime((*times)[static_cast<size_t>(index)]));
            shown = true;
        }
    }
    if (changed && !shown) {
        // The panel draws "No recording" over its picture, or stops drawing it.
        if (options_.queue) {
            client::PanelId panel;
            {
                std::lock_guard lock(frameMutex_);
                panel = panel_;
            }
            options_.queue->push(client::FrameReady{panel});
        }
        notifyPosition();
    }
    // The next moment the picture changes: the next frame, the end of the recording, or its
    // start while the clock stands before it.
    std::optional<int64_t> next;
    if (index < 0)
        next = times->front();
    else if (static_cast<size_t>(index) + 1 < times->size())
        next = (*times)[static_cast<size_t>(index) + 1];
    else if (!none)
        next = times->back() + period + 1;
    std::optional<std::chrono::milliseconds> wait;
    if (next) {
        std::lock_guard sync(syncMutex_);
        if (!sync_) return true;
        if (auto real = sync_->realUntil(*next))
            wait = std::chrono::milliseconds(std::clamp<uint32_t>(*real, 1, 1000));
    }
    return waitEvents(false, wait) != Wait::Stop;
}

void LocalChannel::notifyPosition() {
    if (!options_.queue) return;
    client::PlaybackPosition p;
    {
        std::lock_guard lock(frameMutex_);
        p.panel = panel_;
    }
    {
        std::lock_guard lock(mutex_);
        p.position = current_;
        p.frameCount = static_cast<uint32_t>(std::max(frameCount_, 0));
        p.speed = fast_ > 1 ? fast_ : -static_cast<int>(slow_);
    }
    options_.queue->push(p);
}

void LocalChannel::report(const char* what) {
    if (options_.queue)
        options_.queue->push(client::MessageBoxNote{format("%s\n%s", what, path_.c_str()),
                                                    client::boxStyle(mb::kOk | mb::kIconStop)});
}

LocalChannel::Wait LocalChannel::waitEvents(bool withRunning,
                                            std::optional<std::chrono::milliseconds> timeout) {
    const int fired = withRunning ? clock_.waitAny({&stop_, &exit_, &wake_, &running_}, timeout)
                                  : clock_.waitAny({&stop_, &exit_, &wake_}, timeout);
    switch (fired) {
        case 0:
        case 1:
            return Wait::Stop;
        case 2:
            return Wait::Wake;
        case 3:
            return Wait::Running;
        default:
            return Wait::Timeout;
    }
}

// Under the command lock: a pending command first, else forward by the fast factor.
void LocalChannel::advance() {
    if (pending_ > 0) {
        --pending_;
        if (command_ == -1) {
            if (current_ > 0) --current_;
        } else if (command_ == -2) {
            ++current_;
            if (current_ >= static_cast<uint32_t>(frameCount_ - 1)) atEnd_ = true;
        } else {
            current_ = static_cast<uint32_t>(command_);
        }
        return;
    }
    current_ += fast_;
    if (lastFrameGuard_ && current_ >= static_cast<uint32_t>(frameCount_)) {
        lastFrameGuard_ = false;
        current_ = static_cast<uint32_t>(frameCount_ - 1);
    }
}

void LocalChannel::showFrame(std::shared_ptr<const media::DecodedPicture> picture,
                             const SystemTime& time) {
    std::shared_ptr<const media::DecodedPicture> previous;
    {
        std::lock_guard lock(bitmapMutex_);
        previous = std::exchange(picture_, picture);
    }
    previous.reset();  // the decoder's buffer goes back off the lock
    {
        std::lock_guard lock(mutex_);
        currentTime_ = time;
        noRecording_ = false;
    }
    bool ready = false;
    client::PanelId panel;
    {
        std::lock_guard lock(frameMutex_);
        panel = panel_;
        if (slot_) ready = slot_->put(std::move(picture)).value_or(false);
    }
    {
        std::lock_guard lock(mutex_);
        ++shown_;
    }
    if (ready && options_.queue) options_.queue->push(client::FrameReady{panel});
    notifyPosition();
}

void LocalChannel::run() {
    media::AviReader reader;
    const int count = reader.open(path_, true, credential_.c_str());
    if (count > 0) reader.setPictureFrames(true);
    if (count <= 0) {
        report("Failed to open file");
        std::lock_guard lock(mutex_);
        finished_ = true;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        frameCount_ = count;
    }
    if (userOpened_) {
        const int position = options_.choosePosition ? options_.choosePosition() : -1;
        std::lock_guard lock(mutex_);
        position_ = position;
    } else {
        {
            std::lock_guard lock(mutex_);
            current_ = static_cast<uint32_t>(count - 1);
        }
        command(kToLast);
    }
    {
        std::lock_guard lock(mutex_);
        rebuildCaptionLocked();
    }

    const media::AviStreamInfo videoInfo = reader.streamInfo(reader.videoIndex());
    SystemTime firstTime{};
    reader.readTimeStamp(0, firstTime);
    SystemTime work = firstTime;
    auto times = std::make_shared<const std::vector<int64_t>>(
        readFrameTimes(reader, firstTime, videoInfo, count));
    {
        std::lock_guard lock(mutex_);
        lastFrameGuard_ = true;
        currentTime_ = work;
        times_ = std::move(times);
        if (videoInfo.rate > 0 && videoInfo.scale > 0)
            period_ = std::max<int64_t>(1, 1000LL * videoInfo.scale / videoInfo.rate);
    }
    bool first = true;
    bool everShown = false;
    uint32_t lastShown = clock_.now() - 10000;  // the first frame is shown at once
    bool failed = false;

    for (;;) {
        if (syncClock()) {
            if (!followStep(reader)) break;
            if (stop_.isSet() || exit_.isSet()) break;
            std::lock_guard lock(mutex_);
            if (!loading_) {
                everShown = true;
                first = false;
            }
            continue;
        }
        bool atEnd, noWait;
        {
            std::lock_guard lock(mutex_);
            atEnd = atEnd_;
            noWait = noWait_;
        }
        if (noWait) wake_.set();
        if (!atEnd && waitEvents(true, std::nullopt) == Wait::Stop) break;
        if (syncClock()) continue;

        bool past;
        {
            std::lock_guard lock(mutex_);
            advance();
            past = current_ >= static_cast<uint32_t>(frameCount_);
            if (past) {
                current_ = static_cast<uint32_t>(frameCount_ - 1);
                lastFrameGuard_ = true;
                atEnd_ = true;
            }
        }
        if (past) {
            if (!everShown) {
                // Not a single frame of the file could be decoded.
                failed = true;
                break;
            }
            setPaused(true);
            {
                std::lock_guard lock(mutex_);
                holding_ = true;
            }
            notifyPosition();
            // Wait for play or a command; a wake-up that carries neither (a no-wait switch)
            // does not leave the end.
            Wait w;
            for (;;) {
                w = waitEvents(true, std::nullopt);
                wake_.reset();
                if (w != Wait::Wake) break;
                if (syncClock()) break;
                std::lock_guard lock(mutex_);
                if (pending_ > 0) break;
                if (!paused_) {
                    w = Wait::Running;
                    break;
                }
            }
            if (w == Wait::Stop) break;
            if (syncClock()) {
                // Asked to follow a clock: it decides what is shown from here.
                std::lock_guard lock(mutex_);
                atEnd_ = false;
                holding_ = false;
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                if (w == Wait::Running) {
                    current_ = 0;
                } else {
                    advance();
                    current_ = std::min(current_, static_cast<uint32_t>(frameCount_ - 1));
                }
                atEnd_ = false;
                holding_ = false;
                if (paused_)
                    running_.reset();
                else
                    running_.set();
            }
        }

        uint32_t index;
        uint8_t fast, slow;
        SystemTime shownTime;
        {
            std::lock_guard lock(mutex_);
            index = current_;
            fast = fast_;
            slow = slow_;
            noWait = noWait_;
            shownTime = currentTime_;
        }
        const int i = static_cast<int>(index);
        // A stamp that cannot be read is made up from the frame rate rather than ending playback.
        work = firstTime;
        if (!reader.readTimeStamp(i, work)) work = nominalTime(firstTime, videoInfo, i);
        auto picture = reader.getPicture(i);
        if (picture) {
            if (first) {
                first = false;
                std::lock_guard lock(mutex_);
                loading_ = false;
                rebuildCaptionLocked();
            }
            const uint32_t wait =
                noWait ? 0 : localPacingWait(shownTime, work, clock_.now() - lastShown, fast, slow);
            if (wait > 0 && waitEvents(false, std::chrono::milliseconds(wait)) == Wait::Stop) break;
            if (syncClock()) continue;
            lastShown = clock_.now();
            showFrame(std::move(picture), work);
            everShown = true;
        }
        // A frame that cannot be decoded is passed over; the next one is tried.
        {
            std::lock_guard lock(mutex_);
            if (pending_ == 0) wake_.reset();
        }
        if (stop_.isSet() || exit_.isSet()) break;
    }

    if (failed && !stop_.isSet() && !exit_.isSet()) {
        report("Failed to open file");
        int position;
        {
            std::lock_guard lock(mutex_);
            position = position_;
        }
        if (options_.requestClose) options_.requestClose(position);
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
}

}  // namespace fsv::playback
