#pragma once
// The main panel's work without a window, behind one facade that every front end (the desktop
// program, fsv) drives. The controller wires together:
//   - SessionRegistry: the logged-in sessions in list order, their ids and pins;
//   - Connector: the queue of interactive connects and the thread that runs them;
//   - the housekeeping thread and its chores (channel and connection closes, the recorder
//     refresh, resume files to take up, recorders that closed the link);
//   - WorkStarter: starting work on the selection, on a thread of its own;
//   - Persistence: the automatic resume files, unfinished work kept on disk, connection sets;
// and the orderly shut-down. What the user must see or answer goes through the UserPort it is
// given (normally a QueuedUserPort) and the notification queue, by session id, never by
// pointer.
//
// Lock order. A thread that holds a lock takes only locks further down this list:
//   1. WorkStarter::starterLock_ - held only while joining the start thread, which never
//      takes it.
//   2. SessionRegistry::lock_ (the session list). No wait on a recorder runs under it: such a
//      wait pins its session (3) instead, and a session's end waits for its pins.
//   3. SessionEntry::pinLock; a session's ResumeLock (its automatic resume file; the work is
//      collected from the queues under it).
//   4. SessionCatalogs' lock; EventList::lock() (recursive) - then a recorder catalog's lock,
//      ServerSession::handlerLock_, the chores lock, the notification queue.
//   5. A session's queues: SessionDownloads' guard, then DownloadSession's camera and count
//      locks, then StreamQueue::currentLock_ and the locks under it (docs/ARCHITECTURE.md).
// Leaves (nothing is taken while one is held): choresLock_, Connector::lock_ (only the status
// cancel event's own mutex under it), WorkStarter::destinationLock_, InfoSink's lock, the
// notification queue, QueuedUserPort, WorkList. No wait on a recorder's answer and no
// question to the user happens under a lock of the controller.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "client/Connector.h"
#include "client/Notifications.h"
#include "client/PeriodRunner.h"
#include "client/Persistence.h"
#include "client/ResumeWork.h"
#include "client/SessionRegistry.h"
#include "client/WorkPlan.h"
#include "client/WorkStarter.h"
#include "net/ServerSession.h"
#include "net/Transport.h"
#include "platform/Event.h"
#include "platform/Shared.h"
#include "recordings/EventList.h"
#include "recordings/PeriodQuery.h"
#include "recordings/SessionCatalogs.h"
#include "recordings/download/Link.h"
#include "recordings/download/SessionBinding.h"
#include "recordings/download/Work.h"
#include "state/Settings.h"

namespace fsv::client {

inline constexpr const char* kStillConnectedQuestion =
    "Still have some connections.\nAre you sure want to exit?";
inline constexpr const char* kCloseAllQuestion = "Close all connection!\nAre you sure?";

// Descending insertion of the close queues: `value` goes before the first smaller number, and
// a number already queued is not queued again (false).
bool insertDescending(std::vector<int>& queue, int value);

class Controller {
  public:
    struct Options {
        std::filesystem::path dataFolder;  // resume files
        net::SessionTiming timing;
        net::TransportTiming transport;
        download::DownloadSettings download;
        // The program's exit event (manual reset), shared with the front end's port so that
        // its questions end with the program; none: the controller has one of its own.
        platform::Event* exitEvent = nullptr;
        // Shows and hides the status window of a connect in progress; none: nothing shown.
        net::StatusDisplay* status = nullptr;
        // Called on the connector's thread after each interactive connect has ended, once
        // connecting() no longer counts it; none: nothing told.
        std::function<void()> connectFinished;
        // The user settings; none: read from FarsightViewer.ini at start. "Tell" and
        // "Overwrite" replace the download settings' flags, "MaxChannel" limits new work.
        std::optional<state::Settings> settings;
        // The free space of a folder's disk; none: the system's.
        download::FreeSpaceFn freeSpace;
        // How long a date query of a resume file's rebuild waits for its answer.
        std::chrono::milliseconds replyTimeout{30000};
        // Refuse the old plain login to a recorder that sends no key.
        bool refusePlainLogin = false;
        // The automatic resume file of each session is rewritten as its work moves on. Off for
        // an owner that keeps track of unfinished work itself (fsv archive: its catalog).
        bool autoResume = true;
        // The channel view's table, the display of shown streams, and who takes their
        // channels over as they end; none: streams take no channel and nothing is drawn
        // (fsv, tests).
        playback::ChannelTable* channels = nullptr;
        playback::FrameSink* display = nullptr;
        playback::ChannelSuccessor* successor = nullptr;
    };
    struct SessionSummary {
        SessionId id = -1;
        std::string recorderName;
        std::string address;
        uint16_t port = 0;
        std::time_t connectionTime = 0;
        int connectionNumber = -1;
        int cameras = 0;  // as listed by the server information (none before it arrived)
        int audioChannels = 0;
        int works = 0;  // items waiting or running in the session's queues
    };

    Controller(Options options, UserPort& user, NotificationQueue& notes);
    // Shuts down without asking when that has not happened yet.
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Start-up: "Auto*.rsm" files under 102 bytes are deleted, the others lead to the
    // unfinished-work question; Yes queues them for the housekeeping thread (resume-work),
    // No deletes them. Returns the files queued.
    std::vector<std::filesystem::path> startUp();

    // Interactive connect: the request joins the connector's queue, whose thread logs in with
    // each request in turn (connectAndWait) and waits for the server information; the caller
    // never waits. False once the controller is exiting or the thread could not start.
    bool connect(const ConnectRequest& request);
    // Waits until no interactive connect is queued or running.
    void waitConnect();
    // The status window's Cancel: ends the wait of the connect in progress.
    void cancelConnect();
    // Interactive connects queued or running.
    bool connecting() const { return connector_.pending() > 0; }
    // Programmatic connect on the calling thread: the session once its server information has
    // arrived; nullopt when the login failed (the session is gone) or the wait was ended by the
    // status cancel, the exit or the session's stop (the session then stays in the list).
    std::optional<SessionId> connectAndWait(const ConnectRequest& request);
    // The same, with why it failed in `error`: the stall, the first message the session gave,
    // the recorder closing the link, or the time-out. A session that failed is ended.
    std::optional<SessionId> connectAndWait(
        const ConnectRequest& request, std::string* error,
        std::optional<std::chrono::milliseconds> infoTimeout = std::nullopt);
    // The server information the session's recorder sent last.
    std::optional<net::ServerInfo> serverInfo(SessionId id) const;
    // Runs `f` with the session under the session-list lock; false when it is not in the list.
    bool withSession(SessionId id, const std::function<void(net::ServerSession&)>& f);
    // The frame count of a recording (its recorder key), asked of the session's recorder; the
    // default count when no answer came; nothing when the session has no downloads.
    std::optional<uint32_t> queryFrameCount(SessionId id, const std::string& recorderKey,
                                            uint32_t dateId);
    // No work waiting or running in any session's queues.
    bool idle();

    // The request the connector took last.
    ConnectRequest lastRequest() const { return connector_.last(); }
    int sessionCount() const;
    std::vector<SessionSummary> sessions() const;
    // What each session was opened with, in list order (a saved connection set).
    std::vector<ConnectRequest> connectionRequests() const;
    // Runs `f` with the session's download queues under the session-list lock; false when the
    // session is not (or no longer) in the list or has no queues.
    bool withDownloads(SessionId id, const std::function<void(download::DownloadSession&)>& f);
    // Takes the first waiting item of the session that `which` accepts out of its queue (a
    // running stream's item stays): its row ends as stopped, its event loses the queued mark and
    // the automatic resume file is written again without it. False when nothing matched.
    bool removeQueuedWork(SessionId id,
                          const std::function<bool(const download::WorkItem&)>& which);

    // The close queues. A position or channel already queued is not queued again.
    void queueConnectionClose(int position, std::string resumeFile = {});
    void queueChannelClose(int channel);
    // Asks kCloseAllQuestion when sessions exist; Yes queues every position, last first.
    void closeAllConnections();
    // Sets resume-work: the housekeeping thread takes the next queued resume file.
    void queueResumeFile(std::filesystem::path file);
    // Loads and starts the work of a resume file; the housekeeping thread calls it for every
    // queued file and deletes the file afterwards when it returns true (the work was taken up),
    // unless the file is now a connection's own automatic file. False keeps the file for a
    // later start. Without one the files are loaded with loadResumeFile.
    std::function<bool(const std::filesystem::path&)> onResumeFile;
    // Closes channel n of the channel view; the housekeeping thread calls it for every queued
    // channel, highest first. The channel table is not part of the controller yet.
    std::function<void(int)> onCloseChannel;
    // Asks the recorder of the event list's current entry again (the recorder refresh).
    void refreshRecorder(int connectionNumber);

    // Shut-down. With `ask` and sessions open, asks kStillConnectedQuestion; No cancels (false).
    // Otherwise: the exiting flag, the exit event, the connector's queue dropped, the
    // housekeeping and connector threads ended, every session destroyed. Safe to call more
    // than once.
    bool shutDown(bool ask);

    // The recording query of a period on the session's recorder: for each chosen channel (its
    // position in the recorder's catalog, in the order given) the days of the period whose
    // events are not loaded yet are asked for, latest first, then every event inside the period
    // is selected in the event list. It waits on the recorder on the calling thread, each wait
    // at most `replyTimeout`, after which `askOnTimeout` asks the user whether to wait again
    // (otherwise the query gives up). Cancelled when the session is not in the list.
    PeriodSummary queryPeriod(SessionId id, const std::vector<int>& channels, const Period& period,
                              std::chrono::milliseconds replyTimeout, bool askOnTimeout);

    // The same on a controller thread; its end comes as a PeriodQueried notification. False
    // (nothing happens) when the session is not in the list, a query still runs or the
    // controller is shutting down. Called from one thread (the front end's).
    bool queryPeriodAsync(SessionId id, const std::vector<int>& channels, const Period& period,
                          std::chrono::milliseconds replyTimeout, bool askOnTimeout);
    // Ends the asynchronous query in progress without a question (it ends as Exiting).
    void cancelPeriodQuery() { periods_.cancel(); }

    // The recorders' catalogs (by connection number) and the waiter of their date queries: what
    // the period dialog asks with.
    SessionCatalogs& catalogs() { return catalogs_; }
    DateQueryWaiter& dateWaiter() { return waiter_; }

    // Starting work on the event list's selection (events marked 1) over every connected
    // recorder: the action (asked through the port unless given; a selection holding an audio
    // event takes "Just Download" without asking), the channel limit, for the period choice the
    // frame count query and the frame range, the destination folder with its disk check, the
    // work items in their queues with their download-list rows, the marks, and the automatic
    // resume files. It asks and waits for recorders: front ends call startWorkAsync.
    StartResult startWork(std::optional<download::Action> action = std::nullopt);
    // The same on a controller thread; the end comes as a WorkStarted notification. False when
    // a start is still running (nothing else happens).
    bool startWorkAsync(std::optional<download::Action> action = std::nullopt);

    // Loads a resume file on the calling thread: connects to its recorder, rebuilds the work
    // and deletes the file. False when the file is not usable (its message was shown) or the
    // connect failed; the file then stays.
    bool loadResumeFile(const std::filesystem::path& file);
    // The rebuild and hand-over of loadResumeFile for a session that is connected: the records'
    // work (those `keep` accepts, all without it) goes into the session's queues and the
    // session's automatic file; then `file`, when given and not that automatic file, is
    // deleted.
    RebuiltWork takeUpWork(SessionId id, const std::vector<state::ResumeRecord>& records,
                           const std::filesystem::path& file = {},
                           const std::function<bool(const download::WorkItem&)>& keep = {});

    // Saved connection sets. Saving writes the connected recorders in list order (false and no
    // file when there is none, or the error was shown); loading queues one interactive connect
    // per record, in the file's order.
    bool saveConnectionSet(const std::filesystem::path& file);
    bool loadConnectionSet(const std::filesystem::path& file);

    // Setup's OK: "Tell" and "Overwrite" hold at once for the work already queued or running
    // (a stream reads them when it meets an existing file and when it finishes).
    void applySettings(const state::Settings& settings);

    // The destination folder the last started work went to (empty before any).
    std::string lastDestination() const;
    const state::Settings& settings() const { return settings_; }

    platform::Event& exitEvent() { return exit_; }
    platform::Event& statusCancelEvent() { return statusCancel_; }
    EventList& eventList() { return events_; }
    download::WorkList& workList() { return work_; }
    bool exiting() const { return exiting_.load(); }
    // The queued positions, as the housekeeping thread will take them (tests).
    std::vector<int> pendingConnectionCloses() const;

  private:
    class SessionPort;
    class EventListNotes;
    class InfoSink;

    void housekeeping();
    void closeConnection(int position, const std::string& resumeFile);
    void closeChannel(int channel);
    void remoteClosed(SessionId id);
    void runResumeFile(const std::filesystem::path& file);
    void refreshRecorderNow(int connectionNumber);
    // Steps after a successful login: the session list, its id, the notes.
    SessionId adopt(std::shared_ptr<net::ServerSession> session);
    // The session's queues once its server information is in; false when it left the list.
    bool readyForWork(SessionId id);
    // With `first`, the session's messages pass a port that keeps the first of them.
    std::shared_ptr<net::ServerSession> newSession(
        std::shared_ptr<FirstMessagePort>* first = nullptr);
    // Takes the session out of the list and ends it.
    void endSession(SessionId id);
    static SessionSummary summaryOf(const SessionEntry& s);
    // Under the session-list lock: the session's queues, once its server information is in.
    void makeDownloads(SessionEntry& s);
    void destroy(std::unique_ptr<SessionEntry> s);
    void sessionGone(const void* session);  // the recorder closed the link (transport thread)

    Options options_;
    NotificationQueue& notes_;
    std::unique_ptr<SessionPort> port_;  // what the sessions and queues talk to

    platform::Event ownExit_{platform::Event::Reset::Manual};
    platform::Event& exit_;
    platform::Event statusCancel_{platform::Event::Reset::Manual};
    std::atomic<bool> exiting_{false};
    std::atomic<bool> shutDown_{false};

    std::unique_ptr<EventListNotes> eventNotes_;
    std::unique_ptr<InfoSink> infoSink_;
    EventList events_;
    DateQueryWaiter waiter_;
    SessionCatalogs catalogs_;
    download::WorkList work_;
    // What every session's queues start from; each session works with a copy of its own.
    download::DownloadContext context_;
    // The tell and overwrite flags, shared with every copy of context_ (written by
    // applySettings on the UI thread, read on the streams' threads).
    std::shared_ptr<download::LiveDownloadSettings> live_;
    std::unique_ptr<net::ConnectionManager> transport_;
    state::Settings settings_;

    SessionRegistry sessions_;
    // The automatic resume files, the unfinished work of sessions that end, connection sets.
    Persistence persistence_;
    WorkStarter starter_;   // startWork, startWorkAsync
    PeriodRunner periods_;  // queryPeriodAsync

    // Runs connectAndWait for each interactive connect; stopped by shutDown.
    Connector connector_;

    // Housekeeping: the chores queued for the housekeeping thread, under one lock, with one
    // condition variable that thread waits on. It takes them in this order: channel closes
    // (highest channel first), connection closes (highest position first, so that the positions
    // still queued stay right), the recorder refresh (the latest asked for), resume files and
    // recorders that closed the link (each in the order they came). `stop` ends the thread.
    // `choresLock_` is a leaf: nothing is taken while it is held, and it may itself be taken
    // under the event list's lock (a refresh asked for from a listener).
    struct CloseChannel {
        int channel;
    };
    struct CloseConnection {
        int position;
        std::string resumeFile;
    };
    struct Refresh {
        int connectionNumber;
    };
    struct ResumeWorkFile {
        std::filesystem::path file;
    };
    struct RecorderClosed {
        SessionId id;
    };
    struct Stop {};
    using Chore =
        std::variant<Stop, CloseChannel, CloseConnection, Refresh, ResumeWorkFile, RecorderClosed>;
    struct Chores {
        std::vector<int> channels;                // descending
        std::vector<int> connections;             // descending
        std::map<int, std::string> resumeFileOf;  // a queued connection's resume file
        std::optional<int> refresh;
        std::deque<std::filesystem::path> resumeFiles;
        std::deque<SessionId> recordersClosed;
        bool stop = false;
    };
    // Waits for the next chore and takes it out of the queue.
    Chore nextChore();
    void addChore(const std::function<bool(Chores&)>& add);
    mutable std::mutex choresLock_;
    std::condition_variable choresReady_;
    Chores chores_;
    std::thread housekeeping_;
};

}  // namespace fsv::client
