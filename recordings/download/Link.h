#pragma once
// What the download work needs from the outside: its recorder session (send, version, stop),
// the event list's end-of-stream reports, the display, and the settings and time constants.
// The program wires these to the ServerSession, the event list and its panels; the tests wire
// them to an in-process recorder.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "platform/UserPort.h"
#include "recordings/download/PlayFile.h"
#include "recordings/download/StorageLayout.h"
#include "recordings/playback/ChannelSuccessor.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/Clock.h"
#include "recordings/playback/FrameSink.h"

namespace fsv::download {

class WorkList;
struct WorkItem;

class SessionLink {
  public:
    virtual ~SessionLink() = default;
    virtual uint16_t version() const = 0;
    // One whole application message; false when it could not be sent.
    virtual bool send(std::span<const uint8_t> message, platform::Event* cancel) = 0;
    // Set when the session ends or its connection is gone.
    virtual platform::Event& stopEvent() = 0;
    virtual std::string serverName() const = 0;
    virtual std::string loginId() const = 0;
    virtual std::string password() const = 0;
    // A wait for the recorder's answer begins (true) or ends (false); the calls pair up. The
    // session counts the recorder's silence only while one runs.
    virtual void awaiting(bool /*on*/) {}
};

// Marks one wait for the recorder's answer on `link` for as long as it lives.
class AwaitingAnswer {
  public:
    explicit AwaitingAnswer(SessionLink& link) : link_(link) { link_.awaiting(true); }
    ~AwaitingAnswer() { link_.awaiting(false); }
    AwaitingAnswer(const AwaitingAnswer&) = delete;
    AwaitingAnswer& operator=(const AwaitingAnswer&) = delete;

  private:
    SessionLink& link_;
};

// The event list's side of a finished stream.
enum class EndReport { Finished, Stopped, CannotOpen };
class EndReporter {
  public:
    virtual ~EndReporter() = default;
    virtual void report(const WorkItem& item, bool audio, EndReport report) = 0;
};

class RateLimit;

struct DownloadSettings {
    bool tellWhenFinished = true;  // "Always tell me when download is finished" (on unless set off)
    bool alwaysOverwrite = false;  // "Always overwrite files"
    bool pacing = true;            // false: frames of download-and-play follow at once
    // Bytes per second that the file streams of one session write together; 0: no limit.
    uint64_t rateLimit = 0;
    // File streams hash what they write: a finished row carries the file's SHA-256.
    bool hashFiles = false;
    // File streams hand what they have written to the disk every this many bytes, without
    // waiting for it, so that a later flush of the file finds little left and the disk works
    // while the network does; 0: the system writes in its own time.
    uint64_t writeBehind = 0;
    std::chrono::milliseconds frameCountWait{20000};
    // After the last frame of a download-and-play stream, how long its status is awaited.
    std::chrono::milliseconds lastStatusWait{5000};
};

// The two settings of DownloadSettings that the user may change while work runs (Setup's
// OK). One object, shared by its owner (the controller) and the context of every session, so
// that it outlives them all; written on the UI thread, read on the streams' threads when a
// stream looks at an existing file or finishes.
struct LiveDownloadSettings {
    std::atomic<bool> tellWhenFinished{true};
    std::atomic<bool> alwaysOverwrite{false};
};

// Everything shared by the queues of all sessions.
struct DownloadContext {
    DownloadContext(UserPort& u, WorkList& w) : user(u), work(w) {}
    UserPort& user;
    WorkList& work;
    playback::ChannelTable* channels = nullptr;       // none: streams are not shown
    playback::FrameSink* display = nullptr;           // none: nothing is drawn
    playback::ChannelSuccessor* successor = nullptr;  // none: a stream's channel is given back
    EndReporter* reporter = nullptr;
    playback::Clock* clock = nullptr;  // none: the system clock
    platform::Event* globalExit = nullptr;
    FreeSpaceFn freeSpace;  // none: the system's
    // The session's file streams take their bytes from it; none: no limit. Each session gets
    // one of its own from settings.rateLimit.
    std::shared_ptr<RateLimit> rateLimit;
    // The pictures of play-only streams; none: the media layer's decoder.
    std::function<std::unique_ptr<PlayDecoder>()> makeDecoder;
    DownloadSettings settings;
    // When set, the tell and overwrite flags as they are now, instead of those of `settings`.
    std::shared_ptr<const LiveDownloadSettings> live;
    bool tellWhenFinished() const {
        return live ? live->tellWhenFinished.load() : settings.tellWhenFinished;
    }
    bool alwaysOverwrite() const {
        return live ? live->alwaysOverwrite.load() : settings.alwaysOverwrite;
    }
    // The owner's number for the session these queues belong to; the work-list rows carry it.
    int session = -1;
    // Told on a queue's worker thread, with none of the queue's locks held, each time the queue
    // moved on: it took its next item, or it ran empty after its last stream ended. What is
    // still unfinished has changed, so the owner rewrites the automatic resume file. Not told
    // for a play-only stream, which is never kept.
    std::function<void()> workMoved;
    // How the download threads are started; none: std::thread. Tests make it fail.
    std::function<std::thread(std::function<void()>)> startThread;
};

}  // namespace fsv::download
