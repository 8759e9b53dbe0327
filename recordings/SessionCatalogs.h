#pragma once
// The recordings layer's side of every logged-in session: it receives each session's server
// information and keeps one RecorderCatalog per session, which puts the recorder into the event
// list and answers the session's date query replies (message 6). It also runs the recorder
// refresh, which carries the marks of queued and downloaded events across the rebuilt entry.

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "net/ServerSession.h"
#include "recordings/EventList.h"
#include "recordings/RecorderCatalog.h"

namespace fsv {

class SessionCatalogs : public net::ServerInfoSink {
  public:
    explicit SessionCatalogs(EventList& list, DateQueryWaiter* waiter = nullptr);
    ~SessionCatalogs() override;

    void serverInfo(net::ServerSession& session, const net::ServerInfo& info,
                    bool refresh) override;
    void sessionEnding(net::ServerSession& session) override;

    // The session's catalog, made on first use (its reply handler is then registered).
    std::shared_ptr<RecorderCatalog> catalog(net::ServerSession& session);
    // The catalog of a connection number (the recorder's position in the event list).
    std::shared_ptr<RecorderCatalog> catalogOf(int connectionNumber) const;

    // Told when a session's connection number changes (old, new), for the connection list.
    // Set it before sessions log in.
    std::function<void(net::ServerSession&, int, int)> onConnectionNumber;

    // Reads the recorder again and then the days that were loaded, so that events queued or
    // downloaded before take their marks back. Runs on the caller's thread and waits for each
    // answer (the panel's housekeeping thread). False when it did not run to its end.
    bool refreshRecorder(net::ServerSession& session);

  private:
    struct Entry;
    std::shared_ptr<Entry> entry(net::ServerSession& session);
    // The body of refreshRecorder, with the session's refresh flag still clear.
    bool readAgain(net::ServerSession& session);

    EventList& list_;
    DateQueryWaiter* waiter_;
    mutable std::mutex mutex_;
    std::map<net::ServerSession*, std::shared_ptr<Entry>> entries_;
};

}  // namespace fsv
