#pragma once
// The windows' backend over the core: the transport, the logged-in sessions, one connect thread
// per connect and a housekeeping thread that ends sessions off the UI thread. Everything the
// threads report reaches the windows as notices queued onto the UI thread.

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/QtUserPort.h"
#include "net/ServerSession.h"
#include "net/Transport.h"
#include "platform/Event.h"
#include "ui/ViewerBackend.h"

namespace fsv::app {

class CoreBackend : public ui::ViewerBackend,
                    private net::ServerInfoSink,
                    private net::StatusDisplay {
  public:
    explicit CoreBackend(net::SessionTiming timing = {});
    ~CoreBackend() override;

    QtUserPort& user() { return *user_; }

    void setListener(Listener listener) override;
    bool connect(const ConnectRequest& request) override;
    void cancelWait() override;
    bool connecting() const override { return connecting_.load() > 0; }
    std::vector<ui::SessionSummary> sessions() const override;
    std::vector<ConnectRequest> connections() const override;
    void closeAll() override;
    std::string takeClosedSession(intptr_t session) override;
    bool loadResumeFile(const std::filesystem::path& file) override;
    void shutdown() override;

  private:
    struct Counts {
        int cameras = 0, audio = 0;
    };
    void notify(const ui::ViewerNotice& notice);  // any thread
    void notify(ui::ViewerNotice::Kind kind, bool ok = false);
    void connectThread(ConnectRequest request);
    int freeConnectionNumber() const;  // under sessionLock_
    void housekeeping();
    void queueWork(std::function<void()> work);
    void reapConnectThreads();

    // net::ServerInfoSink (dispatcher threads)
    void serverInfo(net::ServerSession& session, const net::ServerInfo& info,
                    bool refresh) override;
    void sessionEnding(net::ServerSession& session) override;
    // net::StatusDisplay (connect threads)
    void showStatus(const std::string& text) override;
    void hideStatus() override;

    QObject context_;  // on the UI thread: queued notices run in its name
    Listener listener_;
    platform::Event exit_{platform::Event::Reset::Manual};
    platform::Event statusCancel_{platform::Event::Reset::Manual};
    std::unique_ptr<QtUserPort> user_;
    net::SessionTiming timing_;
    std::unique_ptr<net::ConnectionManager> transport_;

    mutable std::mutex sessionLock_;
    std::vector<std::unique_ptr<net::ServerSession>> sessions_;
    mutable std::mutex infoLock_;
    std::map<const net::ServerSession*, Counts> counts_;

    std::mutex threadLock_;
    struct ConnectThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<ConnectThread> connectThreads_;
    std::atomic<int> connecting_{0};

    std::mutex workLock_;
    std::deque<std::function<void()>> work_;
    platform::Event workReady_{platform::Event::Reset::Auto};
    platform::Event stop_{platform::Event::Reset::Manual};
    std::thread housekeeping_;
    bool shutDown_ = false;
};

}  // namespace fsv::app
