#include "net/ServerSession.h"

#include <algorithm>

#include "ktcrypto/KtCrypto.h"
#include "platform/Bytes.h"

namespace fsv::net {

using platform::Event;

ServerSession::ServerSession(SessionEnvironment env)
    : env_(env), self_(this), connectionTime_(std::time(nullptr)) {
    // The key wait runs out well inside the stall limit, so that an older recorder that never
    // answers the key request still gets the plain login.
    if (env_.timing.stallLimit && env_.timing.keyWait >= *env_.timing.stallLimit)
        env_.timing.keyWait = *env_.timing.stallLimit / 2;
    replyOk_ = std::make_shared<Event>(Event::Reset::Auto);
    replyFailed_ = std::make_shared<Event>(Event::Reset::Auto);
    dispatcher_ = std::thread([this] { dispatcher(); });
}

ServerSession::~ServerSession() {
    closing_.store(true);
    stop_.set();
    if (env_.sink) env_.sink->sessionEnding(*this);
    if (dispatcher_.joinable()) dispatcher_.join();
    // Always asked, even after the recorder closed: it also waits for a teardown of the
    // connection that is still calling back into this session on another thread. A recorder
    // that went silent is not waited for once more: the stall limit has been spent already.
    env_.transport.disconnect(this, !stalled_.load());
    if (gettingInformation_.load()) hideStatus();
}

// ---- receiving ---------------------------------------------------------------------------

void ServerSession::onTransport(int event, const uint8_t* data, uint32_t length) {
    if (self_ != this) return;
    if (event == kEventMessage) {
        // Stream data that finds the dispatcher with nothing in hand goes to its stream from
        // here: the same order, one message at a time, without the hop through the dispatcher
        // thread for every block.
        if (length > 0 && data[0] == cmd::kStreamData && inbox_.idle() && !stop_.isSet()) {
            // The time spent on it (a slow disk under a file stream) is no silence of the
            // recorder: the stall limit waits meanwhile.
            heard();
            handling_.store(true, std::memory_order_release);
            dispatch(Message{data[0], ByteSpan(data, length)});
            heard();
            handling_.store(false, std::memory_order_release);
            return;
        }
        // Returns once the dispatcher has the message; stopping drops it.
        inbox_.put(std::span<const uint8_t>(data, length), {&stop_});
    } else if (event == kEventGone) {
        if (closing_.load() || closedByRecorder_.exchange(true)) return;
        if (!goneTold_.exchange(true))
            env_.user.post(PanelMessage::RecorderClosed, reinterpret_cast<intptr_t>(this), 0);
        setReplyFailed();
    }
}

void ServerSession::dispatcher() {
    Bytes message;
    std::vector<Event*> events{&inbox_.ready(), &stop_, &progress_};
    if (env_.globalExit) events.push_back(env_.globalExit);
    heard();
    for (;;) {
        if (stop_.isSet() || (env_.globalExit && env_.globalExit->isSet())) break;
        // Asking for the next message also frees the one just handled.
        if (inbox_.take(message)) {
            if (!message.empty()) dispatch(Message{message[0], message});
            heard();
            continue;
        }
        // Only the wait for the next message counts towards the stall limit, not the time
        // spent handling one (a slow disk under a file stream). Stream data that the transport
        // handed straight to its stream counts as heard too.
        std::optional<std::chrono::milliseconds> wait;
        // Nothing waits on the recorder: its silence is no stall. A wait that begins wakes
        // this thread through the progress event.
        if (env_.timing.stallLimit && awaiting()) {
            // Looked at before the time: a message handled just now is then seen as heard.
            const bool handling = handling_.load(std::memory_order_acquire);
            const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - lastHeard());
            if (handling) {
                wait = *env_.timing.stallLimit;
            } else if (quiet >= *env_.timing.stallLimit) {
                onStall();
                break;
            } else {
                wait = *env_.timing.stallLimit - quiet;
            }
        }
        const int w = platform::waitAny(events, wait);
        if (w == 1 || w == 3) break;  // stop, or the global exit
        if (w == 2) heard();          // a step of the session's own: the limit starts again
        // A message, or the time-out: look again.
    }
    stop_.set();
}

void ServerSession::heard() {
    lastHeard_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                     std::memory_order_relaxed);
}

std::chrono::steady_clock::time_point ServerSession::lastHeard() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(lastHeard_.load(std::memory_order_relaxed)));
}

void ServerSession::dispatch(const Message& m) {
    switch (m.code) {
        case cmd::kLoginReply:
            return onLoginReply(m);
        case cmd::kServerInfo:
            return onServerInfo(m);
        case cmd::kPublicKey:
            return onPublicKey(m);
        case cmd::kChannelNames:
            return onChannelNames(m);
        case cmd::kRecordedDays:
            return onRecordedDays(m);
        default:
            break;
    }
    Handler handler;
    {
        std::lock_guard lock(handlerLock_);
        auto it = handlers_.find(m.code);
        if (it != handlers_.end()) handler = it->second;
    }
    if (handler) handler(*this, m);  // codes nobody took are ignored
}

void ServerSession::setHandler(uint8_t code, Handler handler) {
    std::lock_guard lock(handlerLock_);
    handlers_[code] = std::move(handler);
}

void ServerSession::onStall() {
    stalled_.store(true);
    // The owner hears of it as of a lost link, while the streams still run: their work is
    // taken as it is now.
    if (!closing_.load() && !goneTold_.exchange(true))
        env_.user.post(PanelMessage::RecorderClosed, reinterpret_cast<intptr_t>(this), 0);
    // Every wait on this session ends: the connect's (the status cancel, only while this
    // session's login runs: it is shared with the owner's other connects), the login's and the
    // information's (reply-failed), and the streams' and queries' (the stop event, set as the
    // dispatcher ends).
    if (loggingIn_.load()) env_.statusCancel.set();
    setReplyFailed();
}

void ServerSession::tellStall() {
    if (!stallTold_.exchange(true)) env_.user.messageBox(stallText(), mb::kIconStop);
}

bool ServerSession::awaiting() const { return awaiting_.load() > 0 || gettingInformation_.load(); }

void ServerSession::waitStarts(bool wasAwaiting) {
    if (wasAwaiting) return;
    heard();
    progress_.set();  // the dispatcher takes up the count
}

void ServerSession::awaitBegin() {
    const bool was = awaiting();
    awaiting_.fetch_add(1);
    waitStarts(was);
}

void ServerSession::awaitEnd() {
    int v = awaiting_.load();
    while (v > 0 && !awaiting_.compare_exchange_weak(v, v - 1)) {
    }
}

void ServerSession::setGettingInformation(bool v) {
    const bool was = awaiting();
    gettingInformation_.store(v);
    if (v) waitStarts(was);
}

std::string ServerSession::stallText() const {
    const auto limit = env_.timing.stallLimit.value_or(std::chrono::milliseconds(0));
    const long long seconds = (limit.count() + 999) / 1000;
    return fsv::format(kTextStalled, address_.c_str(), seconds, seconds == 1 ? "" : "s");
}

// ---- sending -----------------------------------------------------------------------------

int ServerSession::send(const uint8_t* data, uint32_t length, Event* cancel) {
    std::lock_guard lock(sendLock_);
    int result = 0;
    for (;;) {
        if (closedByRecorder_.load()) return 0;
        result = env_.transport.send(this, data, length);
        if (result || !cancel || cancel->isSet() || closing_.load()) break;
        // Without a connection there is nothing to retry against.
        if (stop_.isSet()) break;
        std::this_thread::yield();
    }
    return result;
}

// ---- reply events ------------------------------------------------------------------------

std::shared_ptr<Event> ServerSession::createReplyOk() {
    std::lock_guard lock(replyLock_);
    replyOk_ = std::make_shared<Event>(Event::Reset::Auto);
    return replyOk_;
}
void ServerSession::closeReplyOk() {
    std::lock_guard lock(replyLock_);
    replyOk_.reset();
}
bool ServerSession::hasReplyOk() const {
    std::lock_guard lock(replyLock_);
    return replyOk_ != nullptr;
}
void ServerSession::setReplyOk() {
    std::lock_guard lock(replyLock_);
    if (replyOk_) replyOk_->set();
}
std::shared_ptr<Event> ServerSession::createReplyFailed() {
    std::lock_guard lock(replyLock_);
    replyFailed_ = std::make_shared<Event>(Event::Reset::Auto);
    return replyFailed_;
}
void ServerSession::closeReplyFailed() {
    std::lock_guard lock(replyLock_);
    replyFailed_.reset();
}
void ServerSession::setReplyFailed() {
    std::lock_guard lock(replyLock_);
    if (replyFailed_) replyFailed_->set();
}

// ---- login -------------------------------------------------------------------------------

void ServerSession::onPublicKey(const Message& m) {
    auto reply = parsePublicKey(m.bytes);
    if (reply && reply->key) {
        std::lock_guard lock(sendLock_);
        key_ = std::move(reply->key);
    }
    setReplyOk();  // the recorder answered, with or without a usable key
}

bool ServerSession::holdsKey() const {
    std::lock_guard lock(sendLock_);
    return key_.has_value();
}

void ServerSession::onLoginReply(const Message& m) {
    auto reply = parseLoginReply(m.bytes);
    if (!reply) return;
    lastReplyAccepted_.store(reply->accepted);
    if (reply->accepted) {
        {
            std::lock_guard lock(nameLock_);
            recorderName_ = reply->name;
        }
        if (reply->version)
            version_.store(*reply->version);
        else if (version_.load() == 35)
            version_.store(34);
        setReplyOk();
        return;
    }
    if (!reply->version) {
        setReplyFailed();
        return;
    }
    const uint16_t v = *reply->version;
    version_.store(v);
    if (!versionInRange(v)) {
        // The message goes out before the waiting login is ended (silently, by the cancel).
        env_.user.messageBox(kTextVersionMismatch, mb::kIconStop);
        env_.statusCancel.set();
    } else if (v >= 34) {
        setReplyFailed();
    } else {
        setReplyOk();  // log in again offering this version
    }
}

std::string ServerSession::recorderName() const {
    std::lock_guard lock(nameLock_);
    return recorderName_;
}

void ServerSession::showStatus(const std::string& text) {
    env_.statusCancel.reset();
    if (env_.status) env_.status->showStatus(text);
}

void ServerSession::hideStatus() {
    if (env_.status) env_.status->hideStatus();
}

void ServerSession::fail(const char* text) {
    // A wait ended by the stall limit says so, not what the wait made of it.
    if (stalled_.load()) return tellStall();
    env_.user.messageBox(fsv::format("%s (%s)", text, address_.c_str()), mb::kIconStop);
}

ServerSession::Wait ServerSession::waitReply(std::optional<std::chrono::milliseconds> timeout) {
    std::shared_ptr<Event> ok, failed;
    {
        std::lock_guard lock(replyLock_);
        ok = replyOk_;
        failed = replyFailed_;
    }
    if (!ok || !failed) return Wait::Stop;
    int w = platform::waitAny({ok.get(), &stop_, &env_.statusCancel, failed.get()}, timeout);
    switch (w) {
        case 0:
            return Wait::ReplyOk;
        case 1:
            return Wait::Stop;
        case 2:
            return Wait::Cancel;
        case 3:
            return Wait::ReplyFailed;
        default:
            return Wait::Timeout;
    }
}

bool ServerSession::connectAndLogin(const ConnectRequest& request) {
    address_ = request.address;
    // The connect, the key and the login each wait on the recorder.
    loggingIn_.store(true);
    bool done;
    {
        Awaiting waiting(*this);
        done = connectAndLoginSteps(request);
    }
    loggingIn_.store(false);
    // A wait the stall limit ended says so, whichever step it was.
    if (!done && stalled_.load()) {
        hideStatus();
        tellStall();
    }
    return done;
}

bool ServerSession::connectAndLoginSteps(const ConnectRequest& request) {
    showStatus(kTextConnecting);
    int r = env_.transport.connect(
        this, request.address, request.port,
        [](void* owner, int event, const uint8_t* data, uint32_t length) {
            static_cast<ServerSession*>(owner)->onTransport(event, data, length);
        },
        &env_.statusCancel);
    if (r != kConnectAccepted) {
        if (env_.statusCancel.isSet()) return false;
        hideStatus();
        env_.user.messageBox(kTextConnectFail, mb::kIconStop);
        return false;
    }
    if (env_.statusCancel.isSet()) return false;
    progress_.set();
    connectionTime_.store(std::time(nullptr));
    hideStatus();
    showStatus(kTextCheckingPassword);

    kind_ = request.kind;
    port_ = request.port;
    id_ = request.id;
    password_ = request.password;

    if (!keyStep()) {
        if (version_.load() == 33 && refusePlainLogin_) {
            hideStatus();
            env_.user.messageBox(kTextPlainLoginRefused, mb::kIconStop);
            return false;
        }
        if (version_.load() == 33) return plainLogin();
        hideStatus();
        return false;
    }
    return encryptedLogin();
}

bool ServerSession::keyStep() {
    if (!send(encodeKeyRequest(), &env_.statusCancel)) return false;
    switch (waitReply(env_.timing.keyWait)) {
        case Wait::ReplyOk:
            return holdsKey();
        case Wait::Stop:
            fail(kTextConnectFail);
            return false;
        case Wait::Cancel:
            return false;
        case Wait::ReplyFailed:
            if (closedByRecorder_.load()) fail(kTextConnectFail);
            return false;
        case Wait::Timeout:
            // An older recorder: plain login. Nothing was heard meanwhile, so the stall limit
            // goes on counting from the verdict.
            version_.store(33);
            return false;
    }
    return false;
}

bool ServerSession::encryptedLogin() {
    const std::string scrambled = ScramblePassword(password_);
    const uint16_t offered = version_.load();
    Bytes message = encodeLoginPlain(offered, id_, scrambled);
    {
        std::lock_guard lock(sendLock_);
        if (key_) {
            const Bytes secret = encodeLoginSecret(id_, scrambled);
            CryptBuffer* cipher =
                KtEncryptByKeyEz(key_->data(), static_cast<uint32_t>(key_->size()), secret.data(),
                                 static_cast<uint32_t>(secret.size()));
            if (cipher) {
                message = encodeLoginEncrypted(offered, ByteSpan(cipher->data, cipher->length));
                KtFreeCryptBuffer(cipher);
            } else {
                message = encodeLoginEncryptionFailed(offered);
            }
            key_.reset();
        }
    }
    return loginRounds(std::move(message), true);
}

bool ServerSession::plainLogin() {
    version_.store(33);
    return loginRounds(encodeLoginPlain(33, id_, ScramblePassword(password_)), false);
}

bool ServerSession::loginRounds(Bytes message, bool encrypted) {
    for (;;) {
        const uint16_t offered = platform::getU16(message.data() + kLoginVersionOffset);
        // Fresh reply events for every attempt: a late answer to an earlier request (a key
        // reply after its wait ran out) must not count as this attempt's verdict.
        createReplyOk();
        createReplyFailed();
        env_.statusCancel.reset();
        if (!send(message, &env_.statusCancel)) {
            hideStatus();
            fail(kTextConnectFail);
            return false;
        }
        Wait w = waitReply(std::nullopt);
        hideStatus();
        closeReplyOk();
        closeReplyFailed();
        switch (w) {
            case Wait::ReplyOk: {
                const uint16_t v = version_.load();
                if (!lastReplyAccepted_.load() && v == offered) {
                    // Refused while naming the very version offered: asking again would get
                    // the same answer, so this is a refusal.
                    fail(kTextPasswordError);
                    return false;
                }
                if (encrypted ? (v >= offered || v >= 34) : v == offered) return true;
                if (!encrypted && v > offered) {
                    env_.user.messageBox(kTextVersionMismatch, mb::kIconStop);
                    return false;
                }
                // Again, offering the recorder's version; an encrypted block stays as it is.
                if (encrypted) {
                    platform::putU16(message.data() + kLoginVersionOffset, v);
                } else {
                    message = encodeLoginPlain(v, id_, ScramblePassword(password_));
                }
                continue;
            }
            case Wait::Stop:
                fail(kTextConnectFail);
                return false;
            case Wait::ReplyFailed:
                fail(closedByRecorder_.load() ? kTextConnectFail : kTextPasswordError);
                return false;
            default:
                return false;  // cancelled
        }
    }
}

// ---- server information ------------------------------------------------------------------

bool ServerSession::requestInformation() {
    setGettingInformation(true);
    showStatus(kTextGettingInformation);
    if (version_.load() >= 35) {
        if (!send(encodeCommand(cmd::kChannelNames), &env_.statusCancel)) return false;
        return send(encodeCommand(cmd::kRecordedDays)) != 0;
    }
    return send(encodeCommand(cmd::kGetServerInfo)) != 0;
}

namespace {

SessionChannel& findOrAdd(std::vector<SessionChannel>& list, std::map<uint16_t, size_t>& index,
                          uint16_t code, const std::string& name, ChannelKind kind) {
    auto [it, added] = index.try_emplace(code, list.size());
    if (added) list.push_back({code, name, kind});
    return list[it->second];
}

}  // namespace

void ServerSession::informationUnreadable(const char* text) {
    if (!gettingInformation_.exchange(false)) return;
    hideStatus();
    env_.user.messageBox(text, mb::kIconStop);
    setReplyFailed();
}

void ServerSession::onServerInfo(const Message& m) {
    auto parsed = parseServerInfo(m.bytes);
    if (!parsed) return informationUnreadable();
    ServerInfo info;
    info.recorderName = recorderName();
    info.version = version_.load();
    auto take = [&](const std::vector<ChannelDays>& in, std::vector<SessionChannel>& channels,
                    std::map<uint16_t, size_t>& index, ChannelKind kind,
                    std::vector<ServerInfoChannel>& out) {
        for (auto& c : in) {
            {
                std::lock_guard lock(cameraLock_);
                findOrAdd(channels, index, c.code, c.name, kind);
            }
            ServerInfoChannel ch{c.code, c.name, {}};
            for (uint32_t d : c.days) {
                if (isDayNumber(d))
                    ch.days.push_back({dayText(d), 0, 0});
                else
                    info.skippedDays.push_back(d);
            }
            out.push_back(std::move(ch));
        }
    };
    take(parsed->cameras, cameras_, cameraIndex_, kCamera, info.cameras);
    take(parsed->audio, audio_, audioIndex_, kAudio, info.audio);
    finishInformation(info);
}

void ServerSession::onChannelNames(const Message& m) {
    auto parsed = parseChannelNames(m.bytes);
    // An unreadable list is not a recorder without cameras: the wait for the information ends
    // with this failure.
    channelListUnreadable_.store(!parsed);
    if (!parsed) return informationUnreadable(kTextUnreadableChannels);
    std::optional<Bytes> waitingDays;
    {
        std::lock_guard lock(cameraLock_);
        namesHeard_ = true;
        waitingDays = std::move(daysBeforeNames_);
        daysBeforeNames_.reset();
        if (cameras_.empty() && audio_.empty()) {  // else already known: nothing changes
            for (auto& c : parsed->cameras)
                findOrAdd(cameras_, cameraIndex_, c.code, c.name, kCamera);
            for (auto& c : parsed->audio) findOrAdd(audio_, audioIndex_, c.code, c.name, kAudio);
        }
    }
    if (waitingDays) onRecordedDays(Message{cmd::kRecordedDays, *waitingDays});
}

void ServerSession::onRecordedDays(const Message& m) {
    {
        // The days name channels by code alone: without the names they would all be skipped
        // and the recorder would look empty.
        std::lock_guard lock(cameraLock_);
        if (!namesHeard_) {
            daysBeforeNames_ = Bytes(m.bytes.begin(), m.bytes.end());
            return;
        }
    }
    auto parsed = parseRecordedDays(m.bytes);
    if (!parsed) return informationUnreadable();
    ServerInfo info;
    info.recorderName = recorderName();
    info.version = version_.load();
    {
        std::lock_guard lock(cameraLock_);
        for (auto& c : cameras_) info.cameras.push_back({c.code, c.name, {}});
        for (auto& c : audio_) info.audio.push_back({c.code, c.name, {}});
    }
    auto fill = [&info](const std::vector<ChannelDayGroups>& in,
                        std::vector<ServerInfoChannel>& out) {
        std::map<uint16_t, ServerInfoChannel*> byCode;
        for (auto& ch : out) byCode.try_emplace(ch.code, &ch);
        for (auto& entry : in) {
            auto found = byCode.find(entry.code);
            if (found == byCode.end()) continue;  // a channel the names did not list: skipped
            ServerInfoChannel* it = found->second;
            for (size_t g = 0; g < entry.groups.size(); ++g)
                for (uint32_t d : entry.groups[g].days) {
                    if (isDayNumber(d))
                        it->days.push_back(
                            {dayText(d), static_cast<uint32_t>(g), entry.groups[g].value});
                    else
                        info.skippedDays.push_back(d);
                }
        }
    };
    fill(parsed->cameras, info.cameras);
    fill(parsed->audio, info.audio);
    finishInformation(info);
}

void ServerSession::finishInformation(const ServerInfo& info) {
    if (env_.sink) env_.sink->serverInfo(*this, info, refresh_.load());
    hideStatus();
    gettingInformation_.store(false);
    setReplyOk();
}

std::vector<SessionChannel> ServerSession::cameras() const {
    std::lock_guard lock(cameraLock_);
    return cameras_;
}

std::vector<SessionChannel> ServerSession::audioChannels() const {
    std::lock_guard lock(cameraLock_);
    return audio_;
}

std::optional<SessionChannel> ServerSession::findChannel(ChannelKind kind, uint16_t code) const {
    std::lock_guard lock(cameraLock_);
    const auto& index = kind == kAudio ? audioIndex_ : cameraIndex_;
    auto it = index.find(code);
    if (it == index.end()) return std::nullopt;
    return (kind == kAudio ? audio_ : cameras_)[it->second];
}

}  // namespace fsv::net
