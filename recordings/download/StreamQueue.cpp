#include "recordings/download/StreamQueue.h"

#include <algorithm>
#include <system_error>

#include "net/Messages.h"
#include "platform/Shared.h"
#include "recordings/download/Stream.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/StoppedStream.h"

namespace fsv::download {

uint32_t CookieJar::take(StreamQueue* owner) {
    std::lock_guard lock(mutex_);
    for (;;) {
        ++last_;
        if (last_ == 0) continue;
        if (!open_.count(last_)) break;
    }
    open_[last_] = owner;
    return last_;
}

void CookieJar::giveBack(uint32_t cookie) {
    std::lock_guard lock(mutex_);
    open_.erase(cookie);
}

StreamQueue* CookieJar::owner(uint32_t cookie) const {
    std::lock_guard lock(mutex_);
    auto it = open_.find(cookie);
    return it == open_.end() ? nullptr : it->second;
}

bool StreamGate::take(StreamQueue* queue) {
    std::lock_guard lock(mutex_);
    if (free_ > 0) {
        --free_;
        return true;
    }
    if (!queue->waitingForGate_) {
        queue->waitingForGate_ = true;
        waiting_.push_back(queue);
    }
    return false;
}

void StreamGate::giveBack() {
    StreamQueue* next = nullptr;
    {
        std::lock_guard lock(mutex_);
        ++free_;
        if (!waiting_.empty()) {
            next = waiting_.front();
            waiting_.pop_front();
            next->waitingForGate_ = false;
        }
    }
    if (next) next->wake();
}

void StreamGate::forget(StreamQueue* queue) {
    std::lock_guard lock(mutex_);
    if (!queue->waitingForGate_) return;
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), queue), waiting_.end());
    queue->waitingForGate_ = false;
}

StreamQueue::StreamQueue(DownloadContext& ctx, SessionLink& link, QueueKind kind, uint16_t code,
                         std::string name, CookieJar& cookies, QueueRunner& runner,
                         StreamGate* gate)
    : ctx_(ctx),
      link_(link),
      kind_(kind),
      code_(code),
      name_(std::move(name)),
      cookies_(cookies),
      runner_(runner),
      gate_(gate) {}

StreamQueue::~StreamQueue() { shutDown(); }

void StreamQueue::shutDown() {
    stopped_.store(true);
    stop_.set();
    runner_.forget(this);
    if (gate_) gate_->forget(this);
    std::unique_ptr<Stream> last;
    {
        std::lock_guard lock(currentLock_);
        last = std::move(current_);
        if (holdsGate_) {
            holdsGate_ = false;
            gate_->giveBack();
        }
    }
    if (last) {
        last->stop();
        last->join();
        if (kind_ == QueueKind::Video && ctx_.channels) leaveChannel(*last);
        last.reset();
    }
}

void StreamQueue::leaveChannel(Stream& stream) {
    const int position = stream.channel();
    if (position < 0) return;
    stream.setChannel(-1);
    platform::Event* exit = ctx_.globalExit;
    const bool exiting = exit && exit->isSet();
    if (ctx_.successor && !exiting && stream.ended() && !stream.closedByUser()) {
        if (stream.mode() == net::stream::kModeDownloadPlay && stream.status() == kStatusFinished) {
            // The finished download goes on as a local file on the same channel.
            if (ctx_.successor->playFinishedFile(position, stream.outputPath(), stream.loginId(),
                                                 stream.password()))
                return;
        } else if (stream.status() != kStatusFinished && stream.framesShown() > 0) {
            // Stopped before its end: the channel stays paused on the last picture.
            int width = 0, height = 0;
            std::vector<uint8_t> bits;
            stream.takeLastPicture(&width, &height, &bits);
            auto status = stream.playStatus();
            auto still = std::make_unique<playback::StoppedStream>(
                ctx_.display, status.value_or(playback::PlayStatus{}), stream.serverName(),
                stream.cameraName(), stream.item().eventKey, width, height, std::move(bits));
            if (ctx_.successor->keepStopped(position, std::move(still))) return;
        }
    }
    ctx_.channels->giveBack(position);
}

void StreamQueue::add(WorkItem item) {
    std::lock_guard lock(itemLock_);
    items_.push_back(std::move(item));
}

bool StreamQueue::hasItems() const {
    std::lock_guard lock(itemLock_);
    return !items_.empty();
}

size_t StreamQueue::itemCount() const {
    std::lock_guard lock(itemLock_);
    return items_.size();
}

bool StreamQueue::hasCurrentStream() const {
    std::lock_guard lock(currentLock_);
    return current_ != nullptr;
}

uint32_t StreamQueue::currentCookie() const {
    std::lock_guard lock(currentLock_);
    return current_ && !current_->ended() ? current_->cookie() : 0;
}

std::vector<WorkItem> StreamQueue::unfinished() const {
    std::vector<WorkItem> out;
    {
        std::lock_guard lock(currentLock_);
        if (current_ && !current_->ended()) out.push_back(current_->item());
    }
    std::lock_guard lock(itemLock_);
    out.insert(out.end(), items_.begin(), items_.end());
    return out;
}

std::optional<WorkItem> StreamQueue::removeQueued(
    const std::function<bool(const WorkItem&)>& which) {
    std::lock_guard lock(itemLock_);
    auto it = std::find_if(items_.begin(), items_.end(), which);
    if (it == items_.end()) return std::nullopt;
    WorkItem item = std::move(*it);
    items_.erase(it);
    return item;
}

bool StreamQueue::offer(uint8_t kind, uint32_t cookie, std::span<const uint8_t> body) {
    std::lock_guard lock(currentLock_);
    if (!current_ || current_->cookie() != cookie || current_->ended()) return false;
    current_->takeReply(kind, body);
    return true;
}

void StreamQueue::streamEnded(Stream*) {
    busy_.store(false);
    wake();
}

void StreamQueue::wake() {
    if (stopped_.load()) return;
    if (!runner_.schedule(this)) failWaiting();
}

void StreamQueue::failWaiting() {
    std::deque<WorkItem> items;
    {
        std::lock_guard lock(itemLock_);
        items.swap(items_);
    }
    for (const WorkItem& item : items) {
        ctx_.user.messageBox(format("%s\n%s - %s", kTextNoThread, link_.serverName().c_str(),
                                    item.recorderKey().c_str()),
                             mb::kIconStop);
        ctx_.work.setState(item.row, RowState::Stopped);
        if (ctx_.reporter)
            ctx_.reporter->report(item, kind_ == QueueKind::Audio, EndReport::Stopped);
    }
}

void StreamQueue::failStart(Stream& stream) {
    ctx_.user.messageBox(format("%s\n%s", kTextNoThread, stream.caption().c_str()), mb::kIconStop);
    ctx_.work.setState(stream.item().row, RowState::Stopped);
    if (ctx_.reporter)
        ctx_.reporter->report(stream.item(), kind_ == QueueKind::Audio, EndReport::Stopped);
    if (stream.channel() >= 0 && ctx_.channels) ctx_.channels->giveBack(stream.channel());
    stream.setChannel(-1);
}

void StreamQueue::step() {
    std::unique_ptr<Stream> replaced;
    bool playOnly = false;
    {
        std::lock_guard lock(currentLock_);
        if (busy_.load()) return;
        busy_.store(true);
        replaced = takeNext();
        playOnly = current_ && current_->item().action == Action::JustPlay;
    }
    // Outside the lock: the rewrite asks every queue of the session for its work. Work that
    // is stopping is not written down (what the file holds stays as it was).
    const bool stopping = stopped_.load() || link_.stopEvent().isSet() ||
                          (ctx_.globalExit && ctx_.globalExit->isSet());
    if (!playOnly && !stopping && ctx_.workMoved) ctx_.workMoved();
    replaced.reset();  // the stream has ended; this joins its thread
}

std::unique_ptr<Stream> StreamQueue::takeNext() {
    platform::Event* exit = ctx_.globalExit;
    if ((exit && exit->isSet()) || link_.stopEvent().isSet() || stopped_.load()) {
        busy_.store(false);
        return nullptr;
    }
    std::optional<WorkItem> next;
    {
        std::lock_guard lock(itemLock_);
        if (!items_.empty()) {
            if (gate_ && !holdsGate_) {
                if (!gate_->take(this)) {  // woken again when another camera's turn ends
                    busy_.store(false);
                    return nullptr;
                }
                holdsGate_ = true;
            }
            next = std::move(items_.front());
            items_.pop_front();
        }
    }
    const bool shown = kind_ == QueueKind::Video && ctx_.channels;
    if (!next) {
        // Nothing left: the channel goes back to the table, or on to what follows the stream.
        if (current_ && shown) leaveChannel(*current_);
        if (holdsGate_) {
            holdsGate_ = false;
            gate_->giveBack();
        }
        busy_.store(false);
        return std::move(current_);
    }

    const int inherited = current_ ? current_->channel() : -1;
    auto stream =
        std::make_unique<Stream>(ctx_, link_, *this, std::move(*next), cookies_.take(this), name_);
    if (shown) {
        int channel = inherited;
        if (channel >= 0) {
            ctx_.channels->put(channel, playback::ChannelKind::RemoteStream, stream.get());
        } else {
            channel = ctx_.channels->take(playback::ChannelKind::RemoteStream, stream.get());
            if (channel < 0) {
                ctx_.user.messageBox(format("Over the maximum channel number!\n%s _TEXTCANNOTPLAY",
                                            stream->caption().c_str()),
                                     mb::kIconStop);
                ctx_.work.setState(stream->item().row, RowState::Stopped);
                busy_.store(false);
                wake();
                return nullptr;
            }
        }
        stream->setChannel(channel);
        if (current_) current_->setChannel(-1);
    }
    if (!stream->item().outputPath.empty()) createFolders(stream->item().outputPath);
    try {
        stream->start();
    } catch (const std::system_error&) {
        // No thread for this stream: its work fails, the queue goes on with the next item.
        failStart(*stream);
        busy_.store(false);
        wake();
        return nullptr;
    }
    std::unique_ptr<Stream> replaced = std::move(current_);
    current_ = std::move(stream);
    return replaced;
}

}  // namespace fsv::download
