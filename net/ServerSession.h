#pragma once
// The client's side of one recorder: the session's dispatcher thread (one received message at a
// time), its send operation, the login handshake with the version agreement, and the server
// information that follows login. The session reaches the user only through UserPort and its
// status display; what the server information means to the rest of the program is decided by
// the ServerInfoSink it is given.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/Messages.h"
#include "net/Transport.h"
#include "platform/Event.h"
#include "platform/Handoff.h"
#include "platform/Shared.h"
#include "platform/UserPort.h"

namespace fsv::net {

// The system's own message texts of the login.
inline constexpr const char* kTextConnectFail = "Connect fail!";
inline constexpr const char* kTextPasswordError = "Password Error!";
inline constexpr const char* kTextVersionMismatch = "The version of client and server don't match!";
inline constexpr const char* kTextConnecting = "Connecting...";
inline constexpr const char* kTextCheckingPassword = "Checking password...";
inline constexpr const char* kTextGettingInformation =
    "Getting the information from remote host...";
// Not the recorder's texts: a headless client's stall limit, and answers that cannot be read.
inline constexpr const char* kTextStalled = "Timeout: no answer from %s for %lld second%s.";
inline constexpr const char* kTextUnreadableInformation =
    "The recorder's server information could not be read.";
inline constexpr const char* kTextUnreadableChannels =
    "The recorder's list of cameras and audio channels could not be read.";
// A recorder that sends no key gets the old plain login, whose password is only scrambled
// (reversibly). Sessions told to refuse it stop with this text instead.
inline constexpr const char* kTextPlainLoginRefused =
    "The recorder sent no key: its login would carry the password in a reversible form. Login "
    "refused.";

struct SessionTiming {
    std::chrono::milliseconds keyWait{10000};  // an older recorder never answers the key request
    // When set, a recorder that sends nothing for this long while something waits on it (the
    // connect and login, the server information, a day's events asked for outside the period
    // dialog, a stream or frame count waiting for its data) ends the session: it then counts as
    // stalled. Silence while nothing is asked is no stall. A bounded wait of the session's own
    // (the key request) that runs out counts as progress. None: the user's Cancel is the only
    // way out of a wait.
    std::optional<std::chrono::milliseconds> stallLimit{};
};

// A day of a channel: "%.8d" of the day number, and its date id (0 for days of the one-message
// server information, the 0-based group position for days of the recorded-days message).
struct ServerInfoDay {
    std::string text;
    uint32_t dateId = 0;
    uint32_t groupValue = 0;  // as the recorder sent it; not interpreted
    bool operator==(const ServerInfoDay&) const = default;
};
struct ServerInfoChannel {
    uint16_t code = 0;
    std::string name;
    std::vector<ServerInfoDay> days;
};
// What a recorder has, as one reply (or one pair of replies) told it.
struct ServerInfo {
    std::string recorderName;
    uint16_t version = 0;
    std::vector<ServerInfoChannel> cameras, audio;
    std::vector<uint32_t> skippedDays;  // day numbers that are no date (isDayNumber); left out
};

class ServerSession;

class ServerInfoSink {
  public:
    virtual ~ServerInfoSink() = default;
    // On the session's dispatcher thread, each time the recorder's information arrived.
    // `refresh` is the session's refresh flag: the recorder's entry is to be rebuilt.
    virtual void serverInfo(ServerSession& session, const ServerInfo& info, bool refresh) = 0;
    // At the start of the session's destruction (its threads still run).
    virtual void sessionEnding(ServerSession&) {}
};

// The status window: one line of text with a Cancel button that sets the status cancel event.
class StatusDisplay {
  public:
    virtual ~StatusDisplay() = default;
    virtual void showStatus(const std::string& text) = 0;
    virtual void hideStatus() = 0;
};

// A camera or audio channel the recorder listed. The download work extends it into its queue.
struct SessionChannel {
    uint16_t code = 0;
    std::string name;
    ChannelKind kind = kCamera;
};

// A received application message: the command byte and what follows it.
struct Message {
    uint8_t code = 0;
    ByteSpan bytes;  // the whole message, command byte first
    ByteSpan payload() const { return bytes.empty() ? bytes : bytes.subspan(1); }
};

struct SessionEnvironment {
    ConnectionManager& transport;
    UserPort& user;
    platform::Event& statusCancel;          // manual reset; set by the user's Cancel
    platform::Event* globalExit = nullptr;  // manual reset; set when the program exits
    ServerInfoSink* sink = nullptr;
    StatusDisplay* status = nullptr;
    SessionTiming timing;
};

class ServerSession {
  public:
    using Handler = std::function<void(ServerSession&, const Message&)>;

    explicit ServerSession(SessionEnvironment env);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // TCP connect, public key request, login and version agreement. Reports failures to the
    // user with the system's texts; false when not logged in.
    bool connectAndLogin(const ConnectRequest& request);
    // Set before connectAndLogin: a recorder without a key reply is not sent the plain login.
    void refusePlainLogin(bool refuse) { refusePlainLogin_ = refuse; }

    // Every outgoing message. With a cancel event the send is repeated until it succeeds, the
    // event is set or the session closes. Nonzero when sent.
    int send(const uint8_t* data, uint32_t length, platform::Event* cancel = nullptr);
    int send(const Bytes& message, platform::Event* cancel = nullptr) {
        return send(message.data(), static_cast<uint32_t>(message.size()), cancel);
    }

    // Asks for the server information of the agreed version (14 and 15 from 35, else 3); no
    // wait. False when a request could not be sent.
    bool requestInformation();

    // Handlers for the messages other layers take (date query reply, stream data, frame
    // count reply, ...). Called on the dispatcher thread; the message is valid during the call.
    void setHandler(uint8_t code, Handler handler);

    // The reply-OK slot: a waiter creates it, whoever finishes a reply sets it when it exists.
    std::shared_ptr<platform::Event> createReplyOk();
    void closeReplyOk();
    bool hasReplyOk() const;
    void setReplyOk();
    // The reply-failed slot (a refused login, the connection lost).
    std::shared_ptr<platform::Event> createReplyFailed();
    void closeReplyFailed();
    void setReplyFailed();

    uint16_t version() const { return version_.load(); }
    std::string recorderName() const;
    const std::string& address() const { return address_; }
    const std::string& id() const { return id_; }
    const std::string& password() const { return password_; }
    uint16_t port() const { return port_; }
    uint16_t kind() const { return kind_; }
    std::time_t connectionTime() const { return connectionTime_.load(); }
    int connectionNumber() const { return connectionNumber_.load(); }
    void setConnectionNumber(int n) { connectionNumber_.store(n); }
    bool closedByRecorder() const { return closedByRecorder_.load(); }
    // The stall limit ran out: the session has stopped.
    bool stalled() const { return stalled_.load(); }
    // kTextStalled for this session's address and limit.
    std::string stallText() const;
    bool closing() const { return closing_.load(); }
    // The last channel list (names) of the recorder came in a form that could not be read.
    bool channelListUnreadable() const { return channelListUnreadable_.load(); }
    bool gettingInformation() const { return gettingInformation_.load(); }
    void setGettingInformation(bool v);

    // A caller that waits on the recorder's answer (a stream for its data, a query for its
    // reply) says so: the recorder's silence counts towards the stall limit only while anything
    // waits, from the moment the first wait began. Calls pair up, on any thread.
    void awaitBegin();
    void awaitEnd();
    bool awaiting() const;
    class Awaiting {
      public:
        explicit Awaiting(ServerSession& s) : s_(s) { s_.awaitBegin(); }
        ~Awaiting() { s_.awaitEnd(); }
        Awaiting(const Awaiting&) = delete;
        Awaiting& operator=(const Awaiting&) = delete;

      private:
        ServerSession& s_;
    };
    bool refreshing() const { return refresh_.load(); }
    void setRefreshing(bool v) { refresh_.store(v); }

    std::vector<SessionChannel> cameras() const;
    std::vector<SessionChannel> audioChannels() const;
    std::optional<SessionChannel> findChannel(ChannelKind kind, uint16_t code) const;

    platform::Event& stopEvent() { return stop_; }
    platform::Event& workWakeEvent() { return workWake_; }
    platform::Event& statusCancelEvent() { return env_.statusCancel; }
    platform::Event* globalExitEvent() { return env_.globalExit; }
    UserPort& user() { return env_.user; }
    ConnectionManager& transport() { return env_.transport; }

    // Tests and tools: the public key held from the recorder's reply.
    bool holdsKey() const;

  private:
    enum class Wait { ReplyOk, Stop, Cancel, ReplyFailed, Timeout };

    void onTransport(int event, const uint8_t* data, uint32_t length);
    void dispatcher();
    void dispatch(const Message& m);
    void onPublicKey(const Message& m);
    void onLoginReply(const Message& m);
    void onServerInfo(const Message& m);
    void onChannelNames(const Message& m);
    void onRecordedDays(const Message& m);
    void finishInformation(const ServerInfo& info);
    // A server information reply that could not be read while one was awaited: the wait for it
    // ends as failed instead of running on for ever.
    void informationUnreadable(const char* text = kTextUnreadableInformation);
    void onStall();
    // The stall text as a message box, once per session.
    void tellStall();
    // Something began to wait; when nothing did before, the silence counts from now.
    void waitStarts(bool wasAwaiting);
    bool connectAndLoginSteps(const ConnectRequest& request);
    void heard();
    std::chrono::steady_clock::time_point lastHeard() const;

    Wait waitReply(std::optional<std::chrono::milliseconds> timeout);
    bool keyStep();
    bool encryptedLogin();
    bool plainLogin();
    // Sends a login message and waits for its verdict, repeating with the recorder's version
    // as long as the verdict asks for it. `accept` says whether an agreed version ends it.
    bool loginRounds(Bytes message, bool encrypted);
    void showStatus(const std::string& text);
    void hideStatus();
    void fail(const char* text);  // "%s (%s)" with the address

    SessionEnvironment env_;
    ServerSession* self_;

    uint16_t kind_ = 1, port_ = kDefaultPort;
    std::string address_, id_, password_;
    mutable std::mutex nameLock_;
    std::string recorderName_;
    std::atomic<std::time_t> connectionTime_;
    std::atomic<int> connectionNumber_{-1};
    std::atomic<uint16_t> version_{kMaxVersion};
    std::atomic<bool> lastReplyAccepted_{false};
    bool refusePlainLogin_ = false;

    std::atomic<bool> closing_{false}, closedByRecorder_{false}, gettingInformation_{false},
        refresh_{false}, channelListUnreadable_{false}, stalled_{false};
    // The login runs (its waits end by the status cancel); the stall was told; the owner was
    // told that the link is gone (a lost link or a stall, whichever came first).
    std::atomic<bool> loggingIn_{false}, stallTold_{false}, goneTold_{false};
    std::atomic<int> awaiting_{0};  // callers between awaitBegin and awaitEnd

    mutable std::mutex replyLock_;
    std::shared_ptr<platform::Event> replyOk_, replyFailed_;

    platform::Event stop_{platform::Event::Reset::Manual};
    platform::Event workWake_{platform::Event::Reset::Auto};
    platform::Event progress_{platform::Event::Reset::Auto};  // restarts the stall limit
    platform::Handoff inbox_;  // the one message between the transport and the dispatcher
    // When the session last heard from the recorder (steady clock ticks): the stall limit.
    std::atomic<std::chrono::steady_clock::rep> lastHeard_{0};
    // The transport's thread is handing stream data straight to its stream.
    std::atomic<bool> handling_{false};

    mutable std::recursive_mutex sendLock_;  // every sender; also guards the key
    std::optional<Bytes> key_;

    mutable std::mutex cameraLock_;
    std::vector<SessionChannel> cameras_, audio_;
    // Position of each code in cameras_ / audio_: a recorder may list tens of thousands.
    std::map<uint16_t, size_t> cameraIndex_, audioIndex_;
    // Recorded days that came before the channel names (version 35): handled once the names
    // are in; a recorder that never sends the names leaves the information unanswered.
    bool namesHeard_ = false;
    std::optional<Bytes> daysBeforeNames_;

    std::mutex handlerLock_;
    std::map<uint8_t, Handler> handlers_;

    std::thread dispatcher_;
};

}  // namespace fsv::net
