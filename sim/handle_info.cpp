// Server information from the recordings folder: the one-message form (3 -> 4) and the pair of
// channel names (14) and recorded days (15).

#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

static HandlerRegistrar info(cmd::kGetServerInfo, [](Client& client, ByteSpan) {
    if (!client.loggedIn) return;
    client.reply(encodeServerInfo(serverInfoMessage(client.server().recordings())));
});

static HandlerRegistrar names(cmd::kChannelNames, [](Client& client, ByteSpan) {
    if (!client.loggedIn) return;
    client.reply(encodeChannelNames(channelNamesMessage(client.server().recordings())));
});

static HandlerRegistrar days(cmd::kRecordedDays, [](Client& client, ByteSpan) {
    if (!client.loggedIn) return;
    client.reply(encodeRecordedDays(recordedDaysMessage(client.server().recordings())));
});

}  // namespace

}  // namespace fsv::sim
