#pragma once
// An in-process recorder for the download tests: it takes the stream requests the session
// sends, answers them from a thread of its own (as a session's dispatcher would hand replies
// over) and serves recordings held in memory.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Messages.h"
#include "platform/Bytes.h"
#include "platform/Shared.h"
#include "recordings/download/DownloadSession.h"

namespace fsv::download::test {

struct FakeRecording {
    std::vector<uint8_t> bytes;  // mode 11
    uint32_t frames = 0;         // mode 12
    uint8_t status = 0;          // 1: the recorder cannot open it
};

class FakeRecorderLink : public SessionLink {
  public:
    FakeRecorderLink() {
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeRecorderLink() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void attach(DownloadSession* session) {
        std::lock_guard lock(handleLock_);
        session_ = session;
    }
    // After the session has shut down: no reply reaches it any more.
    void detach() { attach(nullptr); }

    std::map<std::string, FakeRecording> recordings;  // by recorder key
    // Mode 11: the connection drops after this many blocks (0: never).
    size_t dropAfterBlocks = 0;
    size_t blockSize = 1000;
    // Mode 11: called on the recorder's thread once the session has taken each block (the
    // count of blocks taken so far).
    std::function<void(size_t)> afterBlock;
    bool answerFrameCount = true;
    uint16_t protocol = 35;

    uint16_t version() const override { return protocol; }
    fsv::platform::Event& stopEvent() override { return stop_; }
    std::string serverName() const override { return "Recorder"; }
    std::string loginId() const override { return "Guest"; }
    std::string password() const override { return ""; }
    bool send(std::span<const uint8_t> message, fsv::platform::Event*) override {
        if (stop_.isSet()) return false;
        std::lock_guard lock(mutex_);
        requests_.emplace_back(message.begin(), message.end());
        sent_.emplace_back(message.begin(), message.end());
        cv_.notify_all();
        return true;
    }
    std::vector<std::vector<uint8_t>> sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }

  private:
    void reply(uint8_t kind, uint32_t cookie, std::span<const uint8_t> body) {
        auto msg = net::encodeStreamReply(kind, cookie, body);
        session_->onStreamData(msg);
    }
    void handle(const std::vector<uint8_t>& m) {
        if (m[0] == net::cmd::kFrameCountQuery) {
            auto q = net::parseFrameCountQuery(m);
            if (!q || !answerFrameCount) return;
            // A reply for another recording first: it must be passed over.
            session_->onFrameCountReply(net::encodeFrameCountReply("x", 1));
            auto it = recordings.find(q->name);
            session_->onFrameCountReply(net::encodeFrameCountReply(
                q->name, it == recordings.end() ? 0 : it->second.frames));
            return;
        }
        auto r = net::parseStreamRequest(m);
        if (!r) return;
        if (r->op == net::stream::kOpen || r->op == net::stream::kOpenWithId) {
            auto it = recordings.find(r->open.name);
            if (it == recordings.end() || it->second.status == 1) {
                auto body = net::encodeStreamStatusBody(1, uint8_t{0});
                reply(net::stream::kStatus, r->cookie, std::span(body.data(), 2));
                return;
            }
            const FakeRecording& rec = it->second;
            open_[r->cookie] = r->open;
            if (r->open.mode == net::stream::kModeFile) {
                auto head =
                    net::encodeStreamHeaderBody(static_cast<uint32_t>(rec.bytes.size()), 0, {});
                reply(net::stream::kHeader, r->cookie, head);
                size_t blocks = 0;
                for (size_t at = r->open.resumeOffset; at < rec.bytes.size(); at += blockSize) {
                    if (dropAfterBlocks && blocks == dropAfterBlocks) {
                        stop_.set();  // the connection is gone
                        return;
                    }
                    size_t n = std::min(blockSize, rec.bytes.size() - at);
                    auto body = net::encodeStreamDataBody(
                        static_cast<uint32_t>(blocks++),
                        std::span<const uint8_t>(rec.bytes.data() + at, n));
                    reply(net::stream::kData, r->cookie, body);
                    if (afterBlock) afterBlock(blocks);
                }
                auto st = net::encodeStreamStatusBody(0, uint8_t{0});
                reply(net::stream::kStatus, r->cookie, std::span(st.data(), 2));
            } else {
                std::vector<uint8_t> info(280, 0);
                auto head = net::encodeStreamHeaderBody(0, rec.frames, info);
                reply(net::stream::kHeader, r->cookie, head);
            }
        } else if (r->op == net::stream::kPosition) {
            auto o = open_.find(r->cookie);
            if (o == open_.end()) return;
            // A play-only frame: key flag, the time (40 ms apart), two data bytes.
            fsv::platform::ByteWriter w;
            SystemTime t;
            t.hour = 8;
            t.second = static_cast<uint16_t>(r->frame * 40 / 1000);
            t.milliseconds = static_cast<uint16_t>(r->frame * 40 % 1000);
            uint8_t time[SystemTime::kSize];
            t.write(time);
            w.u32(1).bytes(time, sizeof time).u8(0xAB).u8(static_cast<uint8_t>(r->frame));
            auto body = net::encodeStreamDataBody(r->frame, w.data());
            reply(net::stream::kData, r->cookie, body);
        } else if (r->op == net::stream::kClose) {
            open_.erase(r->cookie);
        }
    }
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return quit_ || !requests_.empty(); });
            if (quit_) return;
            auto m = std::move(requests_.front());
            requests_.pop_front();
            lock.unlock();
            {
                std::lock_guard handling(handleLock_);
                if (!m.empty() && session_) handle(m);
            }
            lock.lock();
        }
    }

    std::mutex handleLock_;
    DownloadSession* session_ = nullptr;
    fsv::platform::Event stop_{fsv::platform::Event::Reset::Manual};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::vector<uint8_t>> requests_;
    std::vector<std::vector<uint8_t>> sent_;
    std::map<uint32_t, net::StreamOpen> open_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace fsv::download::test
