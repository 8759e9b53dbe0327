#pragma once
// The one way worker threads reach a front end: typed notifications in one queue.
//
// Workers push from any thread; the front end drains on its own thread. The queue calls its
// wake function only when it goes from empty to non-empty, so a front end is woken once per
// batch however many workers report. Frequent updates (a work-list row, a panel's play
// position, a new picture) keep only their latest value while they wait. Sessions, rows and
// panels are named by number: nothing queued points at an object a worker may delete.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "client/BoxStyle.h"
#include "platform/UserPort.h"
#include "recordings/EventList.h"
#include "recordings/PeriodQuery.h"
#include "recordings/download/Work.h"

namespace fsv::client {

using SessionId = int;  // the controller's number of a session, never reused
using PanelId = int;    // the display panel's position in the channel view

// The deferred message box.
struct MessageBoxNote {
    std::string text;
    BoxStyle style;
};

// A channel came, went or moved in the channel table: the panels show the table again.
struct PanelsChanged {
    PanelId panel = -1;  // the panel whose channel changed
};

// The event list changed: the shown recorder, channel and day need redrawing (Refresh), the
// recorders came or went (Recorders), one event's mark changed (Row: key and mark), or an event
// of the shown day was removed (EventRemoved). It also speaks to its window: the waiting state
// entered or left (Waiting: `waiting`), its controls on or off (Controls: `enabled`), and its
// title (Title: `key` holds the text).
struct EventListChanged {
    enum class What { Refresh, Recorders, Row, EventRemoved, Waiting, Controls, Title };
    What what = What::Refresh;
    std::string key;
    int mark = 0;
    bool waiting = false;
    bool enabled = true;
};

// A row of the download list changed; only the latest state of each row is kept.
struct WorkRowChanged {
    download::WorkRow row;
};

// The play position of a panel; only the latest is kept.
struct PlaybackPosition {
    PanelId panel = -1;
    uint32_t position = 0;
    uint32_t frameCount = 0;
    int speed = 0;
};

// The panel's frame slot holds a picture the front end has not taken yet.
struct FrameReady {
    PanelId panel = -1;
};

struct SessionAdded {
    SessionId session = -1;
    std::string name;     // the recorder's name
    std::string address;  // as typed
};

struct SessionRemoved {
    SessionId session = -1;
    // Why it ended: the recorder closed the link, or it stayed silent past the stall limit
    // (with the text that says so).
    bool closedByRecorder = false;
    bool stalled = false;
    std::string stallText;
};

// A worker waits for the answer (QueuedUserPort::answer with this id) or the exit event.
struct Question {
    enum class Kind { Box, ExistingFile, Folder, SaveFile, OpenFile, OpenFiles, Action, FrameRange };
    uint64_t id = 0;
    Kind kind = Kind::Box;
    std::string text;  // the box's text, or the folder dialog's caption
    BoxStyle style;
    std::filesystem::path path;  // the existing file, or where a dialog starts
    std::string filter;
    std::string defaultExtension;
    bool offerResume = false;    // ExistingFile: resume offered; Action: the period choice offered
    uint32_t frameCount = 0;     // FrameRange: the recording's frame count
};

// How a start of work ended (Controller::startWork).
enum class StartResult {
    Started,          // items were queued
    NothingSelected,  // no event carries the selected mark
    Declined,         // a question was cancelled, or nothing could be queued
    OverMaximum,      // "Over the maximum channel number!" was shown
};

// The start of work that a front end handed to a controller thread has ended.
struct WorkStarted {
    StartResult result = StartResult::Declined;
};

// A period query that a front end handed to a controller thread has ended.
struct PeriodQueried {
    PeriodSummary summary;
};

using Notification =
    std::variant<MessageBoxNote, PanelsChanged, EventListChanged, WorkRowChanged, PlaybackPosition,
                 FrameReady, SessionAdded, SessionRemoved, Question, WorkStarted, PeriodQueried>;

class NotificationQueue {
  public:
    using Wake = std::function<void()>;

    // `wake` is called on the pushing thread, outside the queue's lock, each time the queue
    // goes from empty to non-empty. It should only schedule a drain.
    explicit NotificationQueue(Wake wake = {});
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    void push(Notification n);

    // Hands everything queued so far to `handle`, in order, on the calling thread; returns how
    // many. A handler may push (that starts a new batch and a new wake) and may drain again.
    size_t drain(const std::function<void(Notification&)>& handle);

    bool empty() const;

  private:
    static std::optional<uint64_t> coalesceKey(const Notification& n);

    Wake wake_;
    mutable std::mutex mutex_;
    std::vector<Notification> items_;
    // The queued entry of every update that keeps only its latest value: key, index in items_.
    std::vector<std::pair<uint64_t, size_t>> latest_;
    std::vector<Notification> spare_;  // a drained batch's storage, reused by the next one
};

}  // namespace fsv::client
