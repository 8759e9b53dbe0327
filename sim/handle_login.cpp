// The recorder's side of the login: its public key, and the login block checked against the
// configured ID and password, with the version agreement of a recorder of the configured
// protocol version.

#include <fcntl.h>
#include <unistd.h>

#include "platform/Shared.h"
#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

static HandlerRegistrar keyRequest(cmd::kPublicKey, [](Client& client, ByteSpan message) {
    if (!parseKeyRequest(message) || !client.options().answerKey) return;
    if (client.server().publicKey().empty()) return;
    client.keySent = true;
    client.reply(encodePublicKey(client.server().publicKey()));
});

std::optional<LoginPlain> readLogin(Client& client, ByteSpan message) {
    if (client.keySent) {
        // A client that had our key sends the block encrypted; it may still fall back to the
        // plain form.
        if (auto enc = parseLoginEncrypted(message)) {
            auto plain = client.server().decrypt(enc->cipher);
            if (!plain) return LoginPlain{enc->version, "", ""};  // cannot be read: refused
            auto secret = parseLoginSecret(*plain);
            if (!secret) return LoginPlain{enc->version, "", ""};
            secret->version = enc->version;
            return secret;
        }
    }
    return parseLoginPlain(message);
}

// What the tests check a client sent: one "ID:password" line per login block, written with one
// append so that lines of clients logging in at once do not mix.
void recordLogin(const ServerOptions& options, const LoginPlain& login) {
    if (options.loginLog.empty()) return;
    const auto password = UnscramblePassword(login.scrambled);
    const std::string line = login.id + ":" + password.value_or("(not scrambled text)") + "\n";
    int fd = ::open(options.loginLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

static HandlerRegistrar login(cmd::kLogin, [](Client& client, ByteSpan message) {
    auto l = readLogin(client, message);
    if (!l) return;
    recordLogin(client.options(), *l);
    if (client.fault("silent-after-key")) return;  // the key went out; the verdict never does
    const uint16_t ours = client.options().protocol;
    const uint16_t offered = l->version;
    if (!versionInRange(offered)) {
        client.reply(encodeLoginRefused(ours));
        return;
    }
    // An older recorder names its own version and expects the login again.
    if (offered > ours && ours <= 33) {
        client.reply(encodeLoginRefused(ours));
        return;
    }
    auto password = UnscramblePassword(l->scrambled);
    if (l->id != client.options().user || !password || *password != client.options().password) {
        client.reply(ours >= 34 ? encodeLoginRefused(ours) : encodeLoginRefused(std::nullopt));
        return;
    }
    // Every logged-in place may have been taken while this client was logging in.
    if (!client.server().roomForLogin()) return client.drop();
    client.version = std::min(offered, ours);
    client.reply(encodeLoginAccepted(client.options().name, client.version));
    client.loggedIn = true;
});

}  // namespace

}  // namespace fsv::sim
