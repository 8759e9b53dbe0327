#pragma once
// A queue of work items: one per camera (video), one for audio channels and one for plain
// downloads per recorder session. Each wake-up gives the queue a step on one of the session's
// runner threads (QueueRunner): it takes one item at a time and runs a stream for it; a
// following item of a video queue inherits the channel. A queue without work costs no thread.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "recordings/download/Link.h"
#include "recordings/download/QueueRunner.h"
#include "recordings/download/Work.h"

namespace fsv::download {

class Stream;

class StreamQueue;

// Stream cookies of one session: never 0, never one that an open stream still holds. Each
// names the queue whose stream holds it, so that a reply finds its stream at once.
class CookieJar {
  public:
    uint32_t take(StreamQueue* owner);
    void giveBack(uint32_t cookie);
    StreamQueue* owner(uint32_t cookie) const;

  private:
    mutable std::mutex mutex_;
    uint32_t last_ = 0;
    std::map<uint32_t, StreamQueue*> open_;
};

// Streams of cameras that may run at once in a session that shows none (fsv): a recorder with
// thousands of cameras is downloaded a few cameras at a time. A queue holds its place from its
// first stream until it runs empty; a queue that finds none free waits its turn and is woken
// when one is given back. (Shown streams are bounded by the channel table instead.)
class StreamGate {
  public:
    explicit StreamGate(size_t places) : free_(places) {}
    // True when `queue` has a place now; false: it is in line and woken later.
    bool take(StreamQueue* queue);
    void giveBack();
    void forget(StreamQueue* queue);

  private:
    std::mutex mutex_;
    size_t free_;
    std::deque<StreamQueue*> waiting_;
};

class StreamQueue : public QueueRunner::Steppable {
  public:
    // `gate`: the session's bound on running streams; null when none applies to this queue.
    StreamQueue(DownloadContext& ctx, SessionLink& link, QueueKind kind, uint16_t code,
                std::string name, CookieJar& cookies, QueueRunner& runner, StreamGate* gate);
    ~StreamQueue();
    StreamQueue(const StreamQueue&) = delete;
    StreamQueue& operator=(const StreamQueue&) = delete;

    QueueKind kind() const { return kind_; }
    uint16_t code() const { return code_; }
    const std::string& name() const { return name_; }

    void add(WorkItem item);  // appends; call wake() to start
    // Asks for a step. When no thread can be had for it, the waiting work fails (each item's
    // row stops and the user is told) instead of waiting for ever.
    void wake();
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

    // The runner's step: what a wake-up asks of the queue.
    void step() override;

  private:
    // The queue cannot go on (no thread for it): its waiting items end as stopped.
    void failWaiting();
    // A stream whose thread could not start: its work ends as stopped.
    void failStart(Stream& stream);
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
    QueueRunner& runner_;
    StreamGate* gate_;
    friend class StreamGate;
    bool waitingForGate_ = false;  // guarded by the gate's lock
    bool holdsGate_ = false;       // guarded by currentLock_

    mutable std::mutex itemLock_;
    std::deque<WorkItem> items_;
    mutable std::mutex currentLock_;
    std::unique_ptr<Stream> current_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> stopped_{false};

    platform::Event stop_{platform::Event::Reset::Manual};
};

}  // namespace fsv::download
