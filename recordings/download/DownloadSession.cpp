#include "recordings/download/DownloadSession.h"

#include <algorithm>

#include "net/Messages.h"
#include "recordings/download/RateLimit.h"
#include "recordings/download/Stream.h"

namespace fsv::download {

DownloadSession::DownloadSession(DownloadContext& ctx, SessionLink& link)
    : ctx_(ctx),
      link_(link),
      runner_(ctx.globalExit, link.stopEvent(), kRunnerThreads, ctx.startThread),
      gate_(kCameraStreamsAtOnce) {
    file_ = std::make_unique<StreamQueue>(ctx_, link_, QueueKind::File, 0, "", cookies_, runner_,
                                          nullptr);
    audio_ = std::make_unique<StreamQueue>(ctx_, link_, QueueKind::Audio, 0, "", cookies_, runner_,
                                           nullptr);
}

DownloadSession::~DownloadSession() { shutDown(); }

void DownloadSession::shutDown() {
    runner_.shutDown();
    file_->shutDown();
    audio_->shutDown();
    std::lock_guard lock(cameraLock_);
    for (auto& q : cameras_) q->shutDown();
}

void DownloadSession::addCamera(uint16_t code, const std::string& name) {
    std::lock_guard lock(cameraLock_);
    if (cameraIndex_.count(code)) return;
    // Streams that are shown are bounded by the channel table; the others by the gate.
    cameras_.push_back(std::make_unique<StreamQueue>(ctx_, link_, QueueKind::Video, code, name,
                                                     cookies_, runner_,
                                                     ctx_.channels ? nullptr : &gate_));
    cameraIndex_[code] = cameras_.back().get();
}

void DownloadSession::addAudioChannel(uint16_t code, const std::string& name) {
    std::lock_guard lock(cameraLock_);
    audioNames_[code] = name;
}

StreamQueue* DownloadSession::videoQueue(uint16_t code) {
    std::lock_guard lock(cameraLock_);
    auto it = cameraIndex_.find(code);
    return it == cameraIndex_.end() ? nullptr : it->second;
}

std::vector<StreamQueue*> DownloadSession::allQueues() {
    std::vector<StreamQueue*> all{file_.get(), audio_.get()};
    std::lock_guard lock(cameraLock_);
    for (auto& q : cameras_) all.push_back(q.get());
    return all;
}

bool DownloadSession::enqueue(WorkItem item) {
    StreamQueue* queue = nullptr;
    switch (item.queue) {
        case QueueKind::File:
            queue = file_.get();
            break;
        case QueueKind::Audio:
            queue = audio_.get();
            break;
        case QueueKind::Video:
            queue = videoQueue(item.channelCode);
            break;
    }
    if (!queue) return false;
    if (item.channelName.empty()) {
        if (item.queue == QueueKind::Audio) {
            std::lock_guard lock(cameraLock_);
            auto it = audioNames_.find(item.channelCode);
            if (it != audioNames_.end()) item.channelName = it->second;
        } else if (StreamQueue* camera = videoQueue(item.channelCode)) {
            item.channelName = camera->name();
        }
    }
    if (item.action == Action::JustPlay) {
        item.outputPath.clear();
        item.row = -1;
    } else if (item.row < 0) {
        WorkRow row;
        row.path = item.outputPath;
        row.caption = item.recorderKey();
        row.size = item.size;
        row.session = ctx_.session;
        row.channelName = item.channelName;
        row.mode = item.mode();
        item.row = ctx_.work.addRow(std::move(row));
    }
    queue->add(std::move(item));
    queue->wake();
    return true;
}

std::optional<WorkItem> DownloadSession::removeQueued(
    const std::function<bool(const WorkItem&)>& which) {
    for (StreamQueue* q : allQueues())
        if (auto item = q->removeQueued(which)) return item;
    return std::nullopt;
}

void DownloadSession::onStreamData(std::span<const uint8_t> message) {
    auto reply = net::parseStreamReply(message);
    if (!reply || reply->cookie == 0) return;
    StreamQueue* q = cookies_.owner(reply->cookie);
    if (!q) return;
    if (ctx_.rateLimit && reply->kind == kReplyBlock && q->kind() != QueueKind::Video &&
        !throttle(*q, reply->body.size()))
        return;
    q->offer(reply->kind, reply->cookie, reply->body);
}

bool DownloadSession::throttle(StreamQueue& queue, size_t bytes) {
    platform::Event never(platform::Event::Reset::Manual);
    platform::Event* const stops[] = {&queue.stopEvent(), &link_.stopEvent(),
                                      ctx_.globalExit ? ctx_.globalExit : &never};
    const auto wait = ctx_.rateLimit->reserve(bytes, std::chrono::steady_clock::now());
    const auto ms =
        std::chrono::ceil<std::chrono::milliseconds>(std::max(wait, std::chrono::nanoseconds(0)));
    return platform::waitAny(std::span<platform::Event* const>(stops), ms) ==
           platform::kWaitTimeout;
}

void DownloadSession::onFrameCountReply(std::span<const uint8_t> message) {
    auto reply = net::parseFrameCountReply(message);
    if (!reply) return;
    std::lock_guard lock(countLock_);
    if (countKey_.empty() || reply->name != countKey_) return;
    count_ = reply->frameCount;
    countReply_.set();
}

uint32_t DownloadSession::queryFrameCount(const std::string& recorderKey, uint32_t dateId) {
    auto query = net::encodeFrameCountQuery(recorderKey, link_.version(), dateId);
    if (!query) return kDefaultFrameCount;
    {
        std::lock_guard lock(countLock_);
        countKey_ = recorderKey;
        countReply_.reset();
    }
    uint32_t result = kDefaultFrameCount;
    AwaitingAnswer awaiting(link_);
    if (link_.send(*query, nullptr)) {
        platform::Event never(platform::Event::Reset::Manual);
        const int fired = platform::waitAny(
            {&countReply_, &link_.stopEvent(), ctx_.globalExit ? ctx_.globalExit : &never},
            ctx_.settings.frameCountWait);
        std::lock_guard lock(countLock_);
        if (fired == 0) result = count_;
    }
    std::lock_guard lock(countLock_);
    countKey_.clear();
    return result;
}

int DownloadSession::camerasWithoutStream(const std::vector<uint16_t>& cameras) {
    std::vector<uint16_t> seen;
    int n = 0;
    for (uint16_t code : cameras) {
        if (std::find(seen.begin(), seen.end(), code) != seen.end()) continue;
        seen.push_back(code);
        StreamQueue* q = videoQueue(code);
        if (q && !q->hasCurrentStream()) ++n;
    }
    return n;
}

bool DownloadSession::idle() {
    // Once the session has stopped (the recorder went away), the queues' workers are gone and
    // what is still queued stays queued: nothing more will happen, so it is not worth waiting.
    const bool stopped = link_.stopEvent().isSet();
    for (StreamQueue* q : allQueues())
        if (q->busy() || (!stopped && q->hasItems())) return false;
    return true;
}

std::vector<WorkItem> DownloadSession::unfinished() {
    std::vector<WorkItem> out;
    for (StreamQueue* q : allQueues()) {
        auto items = q->unfinished();
        out.insert(out.end(), items.begin(), items.end());
    }
    return out;
}

}  // namespace fsv::download
