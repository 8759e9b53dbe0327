#pragma once
// Connect, log in and fetch the server information without a display: what fsv's commands do
// before their own work. The session's messages to the user still go to the given UserPort; the
// first of them is also kept as the error text.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "net/ServerSession.h"

namespace fsv::net {

class HeadlessConnection : private ServerInfoSink {
  public:
    // `forward`, when given, also receives every server information (e.g. the event list).
    HeadlessConnection(ConnectionManager& transport, UserPort& user,
                       ServerInfoSink* forward = nullptr, SessionTiming timing = {});
    ~HeadlessConnection() override;

    // Logs in and waits for the server information (at most `infoTimeout` when given). False
    // with error() filled when anything failed; the session is then gone.
    bool open(const ConnectRequest& request,
              std::optional<std::chrono::milliseconds> infoTimeout = std::nullopt);

    // Refuse the plain login to a recorder that sends no key (see ServerSession).
    void refusePlainLogin(bool refuse) { refusePlainLogin_ = refuse; }

    ServerSession* session() { return session_.get(); }
    const ServerInfo& info() const { return info_; }
    const std::string& error() const { return error_; }
    // Setting it abandons a connect or wait in progress (the status Cancel button).
    platform::Event& cancelEvent() { return cancel_; }
    // Ends the session (close request to the recorder).
    void close();

  private:
    void serverInfo(ServerSession& session, const ServerInfo& info, bool refresh) override;
    void sessionEnding(ServerSession& session) override;

    class Port;
    ConnectionManager& transport_;
    std::unique_ptr<Port> port_;
    ServerInfoSink* forward_;
    SessionTiming timing_;
    platform::Event cancel_{platform::Event::Reset::Manual};
    ServerInfo info_;
    std::string error_;
    bool refusePlainLogin_ = false;
    std::unique_ptr<ServerSession> session_;
};

}  // namespace fsv::net
