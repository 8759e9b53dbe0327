#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>

#include "ScriptedPeer.h"
#include "ktcrypto/KtCrypto.h"
#include "net/ServerSession.h"
#include "platform/Bytes.h"
#include "platform/ScriptedUserPort.h"

using namespace fsv;
using namespace fsv::net;
using fsv::test::ScriptedPeer;
using namespace std::chrono_literals;

namespace {

// A recorder's RSA key pair.
struct TestKey {
    uint32_t context = KtCrypInit(1, 0);
    uint32_t key = KtCryptGenKey(context, 1024u << 16);
    Bytes blob;
    TestKey() {
        uint32_t len = 0;
        KtExportPublicKey(key, &len, nullptr);
        blob.resize(len);
        KtExportPublicKey(key, &len, blob.data());
    }
    ~TestKey() {
        KtCryptDestroyKey(key);
        KtCrypUninit(context);
    }
    Bytes decrypt(ByteSpan cipher) const {
        CryptBuffer* b = KtDecrypt(key, cipher.data(), static_cast<uint32_t>(cipher.size()));
        if (!b) return {};
        Bytes out(b->data, b->data + b->length);
        KtFreeCryptBuffer(b);
        return out;
    }
};

const TestKey& testKey() {
    static TestKey k;
    return k;
}

struct RecordingSink : ServerInfoSink {
    std::mutex mutex;
    std::vector<ServerInfo> infos;
    std::vector<bool> refreshFlags;
    void serverInfo(ServerSession&, const ServerInfo& info, bool refresh) override {
        std::lock_guard lock(mutex);
        infos.push_back(info);
        refreshFlags.push_back(refresh);
    }
};

TransportTiming fastTransport() {
    TransportTiming t;
    t.verdict = 2s;
    t.disconnectWait = 200ms;
    return t;
}

// A session against a scripted recorder. Members are destroyed session first, then the
// transport, then the peer.
struct Rig {
    ScriptedPeer peer;
    ConnectionManager manager{fastTransport()};
    ScriptedUserPort user;
    fsv::platform::Event cancel{fsv::platform::Event::Reset::Manual};
    RecordingSink sink;
    std::unique_ptr<ServerSession> session;

    explicit Rig(std::chrono::milliseconds keyWait = 10s,
                 std::optional<std::chrono::milliseconds> stallLimit = std::nullopt) {
        SessionEnvironment env{
            manager, user, cancel, nullptr, &sink, nullptr, SessionTiming{keyWait, stallLimit}};
        session = std::make_unique<ServerSession>(env);
    }

    std::future<bool> startLogin(const std::string& id = "Guest", const std::string& pw = "pw") {
        ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = peer.port();
        r.id = id;
        r.password = pw;
        auto f = std::async(std::launch::async, [this, r] { return session->connectAndLogin(r); });
        EXPECT_TRUE(peer.accept());
        peer.writeControl(kFrameAccepted);
        return f;
    }

    // Key request answered with the test key; returns the login message that follows.
    Bytes keyThenLogin() {
        auto req = peer.readMessage();
        EXPECT_EQ(req, encodeKeyRequest());
        peer.writeMessage(encodePublicKey(testKey().blob));
        return peer.readMessage().value_or(Bytes{});
    }

    bool loginAt(uint16_t version) {
        auto f = startLogin();
        keyThenLogin();
        peer.writeMessage(encodeLoginAccepted("DVR", version));
        return f.get();
    }
};

}  // namespace

TEST(Session, UnansweredKeyRequestLeadsToPlainLoginAt33) {
    Rig rig(150ms);
    auto f = rig.startLogin("Guest", "pw");
    EXPECT_EQ(rig.peer.readMessage(), encodeKeyRequest());
    EXPECT_EQ(rig.peer.readMessage(), encodeLoginPlain(33, "Guest", ScramblePassword("pw")));
    rig.peer.writeMessage(encodeLoginAccepted("Old DVR", 33));
    EXPECT_TRUE(f.get());
    EXPECT_EQ(rig.session->version(), 33);
    EXPECT_EQ(rig.session->recorderName(), "Old DVR");
    EXPECT_TRUE(rig.user.boxes().empty());
}

TEST(Session, EncryptedLoginRetriesTheSameBlockAtTheRecordersVersion) {
    Rig rig;
    auto f = rig.startLogin("admin", "secret");
    Bytes first = rig.keyThenLogin();
    auto enc = parseLoginEncrypted(first);
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc->version, 35);
    EXPECT_EQ(testKey().decrypt(enc->cipher),
              encodeLoginSecret("admin", ScramblePassword("secret")));

    rig.peer.writeMessage(encodeLoginRefused(33));
    auto second = rig.peer.readMessage();
    ASSERT_TRUE(second);
    ASSERT_EQ(second->size(), first.size());
    EXPECT_EQ(fsv::platform::getU16(second->data() + 1), 33);
    EXPECT_TRUE(std::equal(first.begin() + 3, first.end(), second->begin() + 3));
    rig.peer.writeMessage(encodeLoginAccepted("DVR", 33));
    EXPECT_TRUE(f.get());
    EXPECT_EQ(rig.session->version(), 33);
}

TEST(Session, LoginVerdicts) {
    const std::string passwordError = "Password Error! (127.0.0.1)";
    const std::string mismatch = "The version of client and server don't match!";
    struct Case {
        const char* name;
        Bytes reply;
        bool ok;
        uint16_t version;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"accepted without version", encodeLoginAccepted("DVR", std::nullopt), true, 34, {}},
        {"accepted at 34", encodeLoginAccepted("DVR", 34), true, 34, {}},
        {"refused, no version", encodeLoginRefused(std::nullopt), false, 35, {passwordError}},
        {"refused at 35", encodeLoginRefused(35), false, 35, {passwordError}},
        {"refused naming 31", encodeLoginRefused(31), false, 31, {mismatch}},
        {"refused naming 36", encodeLoginRefused(36), false, 36, {mismatch}},
    };
    for (auto& c : cases) {
        Rig rig;
        auto f = rig.startLogin();
        rig.keyThenLogin();
        rig.peer.writeMessage(c.reply);
        EXPECT_EQ(f.get(), c.ok) << c.name;
        EXPECT_EQ(rig.session->version(), c.version) << c.name;
        std::vector<std::string> texts;
        for (auto& b : rig.user.boxes()) texts.push_back(b.text);
        EXPECT_EQ(texts, c.boxes) << c.name;
    }
}

TEST(Session, KeyReplyWithoutUsableKeyEndsSilently) {
    Rig rig;
    auto f = rig.startLogin();
    rig.peer.readMessage();
    Bytes bad = encodePublicKey(testKey().blob);
    bad.push_back(0);  // one byte more than the key length says
    rig.peer.writeMessage(bad);
    EXPECT_FALSE(f.get());
    EXPECT_TRUE(rig.user.boxes().empty());
}

TEST(Session, ConnectionLostDuringLogin) {
    Rig rig;
    auto f = rig.startLogin();
    rig.peer.readMessage();
    rig.peer.close();
    EXPECT_FALSE(f.get());
    EXPECT_TRUE(rig.user.saw("Connect fail! (127.0.0.1)"));
    auto posts = rig.user.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].message, PanelMessage::RecorderClosed);
    EXPECT_EQ(posts[0].wParam, reinterpret_cast<intptr_t>(rig.session.get()));
}

TEST(Session, CancelWhileCheckingPasswordEndsSilently) {
    Rig rig;
    auto f = rig.startLogin();
    rig.keyThenLogin();
    rig.cancel.set();
    EXPECT_FALSE(f.get());
    EXPECT_TRUE(rig.user.boxes().empty());
}

TEST(Session, ServerInformationUpTo34) {
    Rig rig;
    ASSERT_TRUE(rig.loginAt(34));
    auto ok = rig.session->createReplyOk();
    ASSERT_TRUE(rig.session->requestInformation());
    EXPECT_EQ(rig.peer.readMessage(), Bytes{cmd::kGetServerInfo});
    rig.peer.writeMessage(encodeServerInfo(
        {{{1, "Gate", {20261129, 0xFFFFFFFF, 20261130, 990101, 20261300}}, {2, "Yard", {}}}, {}}));
    ASSERT_TRUE(ok->wait(5s));
    EXPECT_FALSE(ok->wait(50ms)) << "set once";
    EXPECT_FALSE(rig.session->gettingInformation());

    std::lock_guard lock(rig.sink.mutex);
    ASSERT_EQ(rig.sink.infos.size(), 1u);
    const ServerInfo& info = rig.sink.infos[0];
    EXPECT_EQ(info.recorderName, "DVR");
    ASSERT_EQ(info.cameras.size(), 2u);
    EXPECT_EQ(
        info.cameras[0].days,
        (std::vector<ServerInfoDay>{{"20261129", 0, 0}, {"20261130", 0, 0}, {"00990101", 0, 0}}));
    EXPECT_EQ(info.skippedDays, (std::vector<uint32_t>{0xFFFFFFFF, 20261300}))
        << "numbers that are no date are left out and told";
    EXPECT_TRUE(info.cameras[1].days.empty());
    EXPECT_TRUE(info.audio.empty());
    EXPECT_EQ(rig.session->cameras().size(), 2u);
}

TEST(Session, ServerInformationFrom35) {
    Rig rig;
    ASSERT_TRUE(rig.loginAt(35));
    auto ok = rig.session->createReplyOk();
    ASSERT_TRUE(rig.session->requestInformation());
    EXPECT_EQ(rig.peer.readMessage(), Bytes{cmd::kChannelNames});
    EXPECT_EQ(rig.peer.readMessage(), Bytes{cmd::kRecordedDays});
    rig.peer.writeMessage(encodeChannelNames({{{1, "Gate"}, {2, "Yard"}}, {{5, "Mic"}}}));
    RecordedDaysMessage days{
        {{1, {{202611, {20261130}}, {202612, {20261201, 0xFFFFFFFF, 20261202}}}},
         {9, {{0, {20261201}}}}},  // not among the names: skipped
        {{5, {{0, {20261201}}}}}};
    rig.peer.writeMessage(encodeRecordedDays(days));
    ASSERT_TRUE(ok->wait(5s));

    // Asked again with the refresh flag: names that arrive a second time change nothing.
    rig.session->setRefreshing(true);
    ASSERT_TRUE(rig.session->requestInformation());
    rig.peer.writeMessage(encodeChannelNames({{{7, "Other"}}, {}}));
    rig.peer.writeMessage(encodeRecordedDays(days));
    ASSERT_TRUE(ok->wait(5s));

    std::lock_guard lock(rig.sink.mutex);
    ASSERT_EQ(rig.sink.infos.size(), 2u);
    EXPECT_EQ(rig.sink.refreshFlags, (std::vector<bool>{false, true}));
    for (const ServerInfo& info : rig.sink.infos) {
        ASSERT_EQ(info.cameras.size(), 2u);
        EXPECT_EQ(info.cameras[0].name, "Gate");
        EXPECT_EQ(info.cameras[0].days,
                  (std::vector<ServerInfoDay>{
                      {"20261130", 0, 202611}, {"20261201", 1, 202612}, {"20261202", 1, 202612}}));
        EXPECT_TRUE(info.cameras[1].days.empty());
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_EQ(info.audio[0].days.size(), 1u);
        EXPECT_EQ(info.skippedDays, std::vector<uint32_t>{0xFFFFFFFF});
    }
}

// A channel list that cannot be read is not "no cameras": the waiter learns of the failure,
// and the days that follow do not hide it.
TEST(Session, UnreadableChannelListIsAFailure) {
    Rig rig;
    ASSERT_TRUE(rig.loginAt(35));
    auto ok = rig.session->createReplyOk();
    auto failed = rig.session->createReplyFailed();
    ASSERT_TRUE(rig.session->requestInformation());
    rig.peer.writeMessage(Bytes{cmd::kChannelNames, 2, 0, 1, 0});  // two cameras, one byte
    rig.peer.writeMessage(encodeRecordedDays({{{1, {{0, {20261201}}}}}, {}}));
    ASSERT_TRUE(failed->wait(5s));
    EXPECT_TRUE(rig.session->channelListUnreadable());
    EXPECT_EQ(rig.user.boxes().size(), 1u);
    EXPECT_EQ(rig.user.boxes().at(0).text, kTextUnreadableChannels);
}

TEST(Session, OtherMessagesGoToTheirHandlersOneAtATime) {
    Rig rig;
    ASSERT_TRUE(rig.loginAt(35));
    std::mutex m;
    std::vector<Bytes> got;
    fsv::platform::Event done(fsv::platform::Event::Reset::Manual);
    rig.session->setHandler(cmd::kDateReply, [&](ServerSession&, const Message& msg) {
        std::lock_guard lock(m);
        got.emplace_back(msg.bytes.begin(), msg.bytes.end());
        if (got.size() == 2) done.set();
    });
    Bytes a = encodeDateReply({kCamera, 1, "20261201", 0, {{93000, 1}}}, 35);
    rig.peer.writeMessage({99, 1});  // unknown code: ignored
    rig.peer.writeMessage(a);
    rig.peer.writeMessage(a);
    ASSERT_TRUE(done.wait(5s));
    std::lock_guard lock(m);
    EXPECT_EQ(got[0], a);
}

TEST(Session, SlowStreamDataIsNoStallButSilenceAfterItIs) {
    // A slow disk under a file stream holds the session back; that is not a silent recorder.
    Rig rig(10s, 2s);
    ASSERT_TRUE(rig.loginAt(35));
    ServerSession::Awaiting stream(*rig.session);  // the stream waits for its data
    std::atomic<bool> stalledWhileHandling{true};
    fsv::platform::Event handled(fsv::platform::Event::Reset::Manual);
    rig.session->setHandler(cmd::kStreamData, [&](ServerSession& s, const Message&) {
        std::this_thread::sleep_for(3s);
        stalledWhileHandling.store(s.stalled());
        handled.set();
    });
    rig.peer.writeMessage(encodeStreamReply(stream::kData, 7, Bytes{0, 0, 0, 0, 1, 2}));
    ASSERT_TRUE(handled.wait(10s));
    EXPECT_FALSE(stalledWhileHandling.load());
    const auto start = std::chrono::steady_clock::now();
    while (!rig.session->stalled() && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(rig.session->stalled());
}

// A session with nothing asked of its recorder is not cut off however long the recorder says
// nothing; once something waits on it, the silence counts from the start of that wait.
TEST(Session, SilenceCountsOnlyWhileSomethingWaits) {
    Rig rig(10s, 1s);
    ASSERT_TRUE(rig.loginAt(35));
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(rig.session->stalled());
    EXPECT_FALSE(rig.session->stopEvent().isSet());

    const auto start = std::chrono::steady_clock::now();
    std::optional<ServerSession::Awaiting> waiting(std::in_place, *rig.session);
    ASSERT_TRUE(rig.session->stopEvent().wait(5s));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(rig.session->stalled());
    EXPECT_GE(took, 900ms) << "counted from the wait, not from the login";
    // The owner hears of it as of a lost link, once, and the user of it in a box (by the owner).
    int closed = 0;
    for (const auto& p : rig.user.posts()) closed += p.message == PanelMessage::RecorderClosed;
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(rig.session->stallText(), "Timeout: no answer from 127.0.0.1 for 1 second.");
}
