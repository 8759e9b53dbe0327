// Date query (5 -> 6): the recordings of one channel and day, read from the recordings folder.
// Every file of the day's folder is one recording: its start time is the file name, its size the
// file's size. The reply names the channel and day as the query did; a channel or day the folder
// does not hold is answered with no recordings. The fault silent-dates answers none.

#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

static HandlerRegistrar dateQuery(cmd::kDateQuery, [](Client& client, ByteSpan message) {
    if (!client.loggedIn || client.fault("silent-dates")) return;
    auto query = parseDateQuery(message);
    if (!query) return;
    DateReply reply;
    reply.kind = query->kind;
    reply.code = query->code;
    reply.date = query->date;
    reply.dateId = query->dateId;
    const Recordings folder = client.server().recordings();
    if (const SimChannel* channel = folder.find(static_cast<ChannelKind>(query->kind), query->code))
        if (const SimDay* day = channel->findDay(query->date))
            for (auto& rec : day->recordings) {
                // A reply holds at most 65535 recordings; sizes beyond 32 bits are capped.
                if (reply.items.size() == 0xFFFF) break;
                reply.items.push_back({rec.timeNumber, static_cast<uint32_t>(std::min<uint64_t>(
                                                           rec.size, 0xFFFFFFFF))});
            }
    client.reply(encodeDateReply(reply, client.version));
});

}  // namespace

}  // namespace fsv::sim
