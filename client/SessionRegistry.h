#pragma once
// The logged-in sessions of a controller, in list order (the order of the connection list and
// of a saved connection set), with their ids and their pins.
//
// Locking: `lock_` (the session-list lock) comes before every lock of a session (its pin lock,
// its resume lock, its queues' locks). A wait on a recorder never happens under it: such a wait
// pins its session instead, and the end of a session waits for its pins to go.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/Notifications.h"
#include "net/ServerSession.h"
#include "recordings/download/Link.h"
#include "recordings/download/SessionBinding.h"
#include "recordings/download/Work.h"
#include "state/ResumeFile.h"

namespace fsv::client {

// One logged-in session and what the controller keeps with it.
struct SessionEntry {
    SessionId id = -1;
    // Shared with a connect that still waits for the server information, so that a recorder
    // closing the link meanwhile cannot pull the session from under it.
    std::shared_ptr<net::ServerSession> session;
    // Its own context: the end-of-stream reports go to this recorder's catalog, and the queues'
    // moves rewrite this session's automatic resume file.
    std::unique_ptr<download::DownloadContext> context;
    std::unique_ptr<download::CatalogReporter> reporter;
    std::unique_ptr<download::SessionDownloads> downloads;
    // Set once with `downloads`, under the list's lock, before any work is queued; the queues'
    // workers read it.
    download::DownloadSession* queues = nullptr;
    std::vector<download::WorkItem> leftAtDrop;  // the work when the recorder closed the link
    state::ResumeLock resumeLock;
    // A wait on the recorder outside the list's lock pins the session (SessionRegistry::pin).
    std::mutex pinLock;
    std::condition_variable unpinned;
    int pins = 0;
};

class SessionRegistry {
  public:
    using Entries = std::vector<std::unique_ptr<SessionEntry>>;

    // Keeps a session in the list while a caller waits on its recorder without the list's lock.
    class Pin {
      public:
        Pin() = default;
        explicit Pin(SessionEntry* entry) : entry_(entry) {}
        Pin(Pin&& other) noexcept : entry_(std::exchange(other.entry_, nullptr)) {}
        Pin& operator=(Pin&&) = delete;
        ~Pin();
        explicit operator bool() const { return entry_ != nullptr; }
        SessionEntry* operator->() const { return entry_; }

      private:
        SessionEntry* entry_ = nullptr;
    };

    // Appends the session with the next id, which it returns.
    SessionId add(std::unique_ptr<SessionEntry> entry);
    // Takes a session out of the list; nullptr when it is not there.
    std::unique_ptr<SessionEntry> take(SessionId id);
    std::unique_ptr<SessionEntry> takeAt(int position);
    Entries takeAll();

    int size() const;
    // Runs `f` with the list, in its order, under the list's lock.
    void locked(const std::function<void(const Entries&)>& f) const;
    // Runs `f` with the session under the list's lock; false when it is not in the list.
    bool with(SessionId id, const std::function<void(SessionEntry&)>& f) const;
    // Pins the session when it is in the list and `accept` takes it (under the list's lock).
    Pin pin(SessionId id, const std::function<bool(const SessionEntry&)>& accept = {});
    // Returns once the session, already out of the list with its stop event set, has no pins.
    static void waitUnpinned(SessionEntry& entry);

  private:
    mutable std::mutex lock_;
    Entries entries_;
    SessionId nextId_ = 1;
};

// The frame count of a recording (its recorder key), asked of the session's recorder with the
// session pinned, not the list held, while it waits; the default count when no answer came;
// nothing when the session is not in the list or has no queues.
std::optional<uint32_t> queryFrameCount(SessionRegistry& sessions, SessionId id,
                                        const std::string& recorderKey, uint32_t dateId);

}  // namespace fsv::client
