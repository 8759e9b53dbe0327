#pragma once
// The download work of a logged-in ServerSession: the session as the queues' link, one video
// queue per camera it listed, and its handlers for stream data (8) and frame count replies
// (11). Also the event list's end-of-stream reports through the session's catalog.

#include <memory>
#include <mutex>

#include "net/ServerSession.h"
#include "recordings/RecorderCatalog.h"
#include "recordings/download/DownloadSession.h"

namespace fsv::download {

class ServerSessionLink : public SessionLink {
  public:
    explicit ServerSessionLink(net::ServerSession& session) : session_(session) {}
    uint16_t version() const override { return session_.version(); }
    bool send(std::span<const uint8_t> message, platform::Event* cancel) override {
        return session_.send(message.data(), static_cast<uint32_t>(message.size()), cancel) != 0;
    }
    platform::Event& stopEvent() override { return session_.stopEvent(); }
    std::string serverName() const override { return session_.recorderName(); }
    std::string loginId() const override { return session_.id(); }
    std::string password() const override { return session_.password(); }
    void awaiting(bool on) override {
        if (on)
            session_.awaitBegin();
        else
            session_.awaitEnd();
    }

  private:
    net::ServerSession& session_;
};

// Reports to the event list entry of one recorder (its catalog knows the channel positions).
class CatalogReporter : public EndReporter {
  public:
    CatalogReporter(EventList& list, std::shared_ptr<RecorderCatalog> catalog)
        : list_(list), catalog_(std::move(catalog)) {}
    void report(const WorkItem& item, bool audio, EndReport report) override;

  private:
    EventList& list_;
    std::shared_ptr<RecorderCatalog> catalog_;
};

class SessionDownloads {
  public:
    // Queues for the session's cameras and audio channels as they are now; handlers installed.
    SessionDownloads(DownloadContext& ctx, net::ServerSession& session);
    ~SessionDownloads();
    SessionDownloads(const SessionDownloads&) = delete;
    SessionDownloads& operator=(const SessionDownloads&) = delete;

    DownloadSession& downloads() { return *downloads_; }

  private:
    struct Guard {
        std::mutex mutex;
        DownloadSession* downloads = nullptr;
    };
    net::ServerSession& session_;
    ServerSessionLink link_;
    std::unique_ptr<DownloadSession> downloads_;
    std::shared_ptr<Guard> guard_;
};

}  // namespace fsv::download
