#pragma once
// A queue of work items with its worker thread: one per camera (video), one for audio
// channels and one for plain downloads per recorder session. The worker takes one item at a
// time and runs a stream for it; a following item of a video queue inherits the channel.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "recordings/download/Link.h"
#include "recordings/download/Work.h"

namespace fsv::download {

class Stream;

// Stream cookies of one session: never 0, never one that an open stream still holds.
class CookieJar {
  public:
    uint32_t take();
    void giveBack(uint32_t cookie);

  private:
    std::mutex mutex_;
    uint32_t last_ = 0;
    std::vector<uint32_t> open_;
};

class StreamQueue {
  public:
    StreamQueue(DownloadContext& ctx, SessionLink& link, QueueKind kind, uint16_t code,
                std::string name, CookieJar& cookies);
    ~StreamQueue();
    StreamQueue(const StreamQueue&) = delete;
    StreamQueue& operator=(const StreamQueue&) = delete;

    QueueKind kind() const { return kind_; }
    uint16_t code() const { return code_; }
    const std::string& name() const { return name_; }

    void add(WorkItem item);  // appends; call wake() to start
    void wake() { wake_.set(); }
    // Ends the worker and the current stream; waits for both.
    void shutDown();

    bool busy() const { return busy_.load(); }
    bool hasItems() const;
    size_t itemCount() const;
    bool hasCurrentStream() const;
    // The cookie of the current stream, 0 when there is none.
    uint32_t currentCookie() const;
    // Items not finished: the queued ones and the current stream's, unless it ended.
    std::vector<WorkItem> unfinished() const;
    // Takes the first waiting item `which` accepts out of the queue; the current stream's item
    // is never taken. Nothing when no waiting item matches.
    std::optional<WorkItem> removeQueued(const std::function<bool(const WorkItem&)>& which);

    // The dispatcher thread offers a stream reply; true when the current stream has that
    // cookie (it then took the reply).
    bool offer(uint8_t kind, uint32_t cookie, std::span<const uint8_t> body);

    // Called by a stream's own thread as it ends.
    void streamEnded(Stream* stream);
    CookieJar& cookies() { return cookies_; }
    platform::Event& stopEvent() { return stop_; }

  private:
    void worker();
    // Under the current-stream lock: starts the next item; returns the stream it replaced.
    std::unique_ptr<Stream> takeNext();
    // An ended stream with nothing after it leaves its channel: to the successor (a finished
    // download as a local file, a stream stopped mid-way as its last picture), else back to the
    // table.
    void leaveChannel(Stream& stream);

    DownloadContext& ctx_;
    SessionLink& link_;
    const QueueKind kind_;
    const uint16_t code_;
    const std::string name_;
    CookieJar& cookies_;

    mutable std::mutex itemLock_;
    std::deque<WorkItem> items_;
    mutable std::mutex currentLock_;
    std::unique_ptr<Stream> current_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> stopped_{false};

    platform::Event wake_{platform::Event::Reset::Auto};
    platform::Event stop_{platform::Event::Reset::Manual};
    platform::Event never_{platform::Event::Reset::Manual};
    std::thread worker_;
};

}  // namespace fsv::download
