// Every parser of recorder (and client) messages. The first byte picks the parser and the
// protocol version; the rest is the message after its command byte.
#include <cstddef>
#include <cstdint>

#include "net/Messages.h"

using namespace fsv::net;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    const uint16_t version = (selector & 0x80) ? 35 : 34;
    static constexpr uint8_t kCodes[] = {cmd::kLogin,        cmd::kLoginReply,
                                         cmd::kServerInfo,   cmd::kDateQuery,
                                         cmd::kDateReply,    cmd::kStreamRequest,
                                         cmd::kStreamData,   cmd::kFrameCountQuery,
                                         cmd::kFrameCountReply, cmd::kPublicKey,
                                         cmd::kChannelNames, cmd::kRecordedDays};
    const uint8_t code = kCodes[(selector & 0x7F) % sizeof kCodes];
    Bytes message(data, data + size);
    message[0] = code;
    ByteSpan m(message);

    switch (code) {
        case cmd::kLogin:
            parseLoginPlain(m);
            parseLoginEncrypted(m);
            parseLoginSecret(m.subspan(1));
            break;
        case cmd::kLoginReply:
            parseLoginReply(m);
            break;
        case cmd::kServerInfo:
            if (auto r = parseServerInfo(m)) encodeServerInfo(*r);
            break;
        case cmd::kDateQuery:
            parseDateQuery(m);
            break;
        case cmd::kDateReply:
            if (auto r = parseDateReply(m, version)) encodeDateReply(*r, version);
            break;
        case cmd::kStreamRequest:
            parseStreamRequest(m);
            break;
        case cmd::kStreamData:
            if (auto r = parseStreamReply(m)) {
                parseStreamHeaderBody(r->body);
                parseStreamDataBody(r->body);
                parseStreamStatusBody(r->body);
            }
            break;
        case cmd::kFrameCountQuery:
            parseFrameCountQuery(m);
            break;
        case cmd::kFrameCountReply:
            parseFrameCountReply(m);
            break;
        case cmd::kPublicKey:
            parsePublicKey(m);
            parseKeyRequest(m);
            break;
        case cmd::kChannelNames:
            if (auto r = parseChannelNames(m)) encodeChannelNames(*r);
            break;
        case cmd::kRecordedDays:
            if (auto r = parseRecordedDays(m)) encodeRecordedDays(*r);
            break;
    }
    return 0;
}
