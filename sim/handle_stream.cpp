// The recorder's side of streams: file transfers (mode 11) pushed from a byte offset, and
// download-and-play (10) and play-only (12) streams whose frames the client pulls one at a
// time; the frame count query; closing. Recordings come from the recordings folder.
//
// Test fault: --drop-stream-after N (or the environment variable FSV_SIM_STREAM_DROP_AFTER=N)
// closes the connection once a stream has sent N blocks (mode 11) or N frames (modes 10, 12);
// --silent-stream-after N sends nothing more on it from then on, and leaves it open.
// Faults (--fault): silent-after-open never answers an open; short-frame answers it with a frame
// that announces more bytes than it carries, then nothing; for file transfers short-p sends a
// header of the size alone, no-p none, p-only a header and the end but no block, size-more and
// size-less announce 1000 bytes more or less than the file has, from-zero ignores the resume
// offset. After the last frame of a download-and-play stream no-status sends nothing more and
// drop-before-status closes the connection, instead of the status.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "media/AviReader.h"
#include "platform/Bytes.h"
#include "platform/Shared.h"
#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

constexpr size_t kFileBlock = 16 * 1024;

struct OpenStream {
    uint8_t mode = 0;
    std::unique_ptr<media::AviReader> reader;
    uint32_t first = 0, last = 0;  // absolute frames of the range served
    std::string date;              // YYYYMMDD, for play-only frame times
    uint32_t sent = 0;
};

struct StreamState {
    std::mutex lock;
    std::map<uint32_t, std::shared_ptr<OpenStream>> open;
};

size_t dropAfter(const Client& client) {
    if (client.options().dropStreamAfter > 0)
        return static_cast<size_t>(client.options().dropStreamAfter);
    const char* v = std::getenv("FSV_SIM_STREAM_DROP_AFTER");
    return v ? std::strtoul(v, nullptr, 10) : 0;
}

size_t silentAfter(const Client& client) {
    return static_cast<size_t>(std::max(client.options().silentStreamAfter, 0));
}

// The recording a recorder name ("YYYYMMDDHHMMSS" + three-digit code) stands for.
const SimRecording* findRecording(const Recordings& all, const std::string& name, bool audio) {
    if (name.size() != 17) return nullptr;
    const std::string date = name.substr(0, 8), time = name.substr(8, 6);
    const uint16_t code = static_cast<uint16_t>(std::atoi(name.substr(14).c_str()));
    const SimChannel* channel = all.find(audio ? kAudio : kCamera, code);
    const SimDay* day = channel ? channel->findDay(date) : nullptr;
    if (!day) return nullptr;
    for (const auto& r : day->recordings)
        if (r.time == time) return &r;
    return nullptr;
}

// One line per stream opened, written with one append so that lines of streams opened at
// once do not mix.
void recordOpen(const ServerOptions& options, const StreamOpen& open) {
    if (options.streamLog.empty()) return;
    const std::string line = open.name + " " + std::to_string(open.mode) + " " +
                             std::to_string(open.resumeOffset) + "\n";
    int fd = ::open(options.streamLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

void sendStatus(Client& client, uint32_t cookie, uint8_t status) {
    const uint8_t body[2] = {status, 0};
    client.reply(encodeStreamReply(stream::kStatus, cookie, body));
}

// Runs on a sender thread of its own (Client::serve), beside the client's other streams.
void sendFile(Client& client, const StreamRequest& r, const SimRecording& rec,
              const std::atomic<bool>& cancelled) {
    std::FILE* f = std::fopen(rec.path.c_str(), "rb");
    if (!f) return sendStatus(client, r.cookie, 1);
    uint32_t announced = static_cast<uint32_t>(rec.size);
    if (client.fault("size-more")) announced += 1000;
    if (client.fault("size-less")) announced -= std::min<uint32_t>(announced, 1000);
    auto header = encodeStreamHeaderBody(announced, 0, {});
    if (client.fault("short-p")) header.resize(4);
    if (!client.fault("no-p")) client.reply(encodeStreamReply(stream::kHeader, r.cookie, header));
    if (client.fault("p-only")) {
        std::fclose(f);
        return sendStatus(client, r.cookie, 0);
    }
    const size_t drop = dropAfter(client);
    std::vector<uint8_t> buffer(kFileBlock);
    uint32_t block = 0;
    if (r.open.append && r.open.resumeOffset <= rec.size && !client.fault("from-zero"))
        std::fseek(f, static_cast<long>(r.open.resumeOffset), SEEK_SET);
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        if (n == 0) break;
        if (drop && block == drop) {
            std::fclose(f);
            client.drop();
            return;
        }
        if (silentAfter(client) && block == silentAfter(client)) {
            std::fclose(f);
            client.goSilent();
            return;
        }
        if (!client.replyBlock(r.cookie, block++, std::span<const uint8_t>(buffer.data(), n),
                               &cancelled)) {
            std::fclose(f);
            return;
        }
        if (client.stopping() || cancelled.load()) break;
    }
    std::fclose(f);
    if (!cancelled.load()) sendStatus(client, r.cookie, 0);
}

void openPlay(Client& client, StreamState& state, const StreamRequest& r, const SimRecording& rec) {
    auto s = std::make_shared<OpenStream>();
    s->mode = r.open.mode;
    s->reader = std::make_unique<media::AviReader>();
    const int count = s->reader->open(rec.path);
    if (count <= 0 || s->reader->videoIndex() < 0) return sendStatus(client, r.cookie, 1);
    s->first = r.open.mode == stream::kModeDownloadPlay ? r.open.firstFrame : 0;
    s->last = static_cast<uint32_t>(count - 1);
    if (r.open.mode == stream::kModeDownloadPlay && r.open.lastFrame < s->last)
        s->last = r.open.lastFrame;
    if (s->first > s->last) return sendStatus(client, r.cookie, 1);
    s->date = r.open.name.substr(0, 8);

    fsv::platform::ByteWriter header;
    auto video = s->reader->streamInfo(s->reader->videoIndex()).serialize();
    header.bytes(video.data(), video.size());
    if (s->reader->textIndex() >= 0) {
        auto text = s->reader->streamInfo(s->reader->textIndex()).serialize();
        header.bytes(text.data(), text.size());
    } else {
        header.zeros(media::AviStreamInfo::kSize);
    }
    {
        std::lock_guard lock(state.lock);
        state.open[r.cookie] = s;
    }
    client.reply(
        encodeStreamReply(stream::kHeader, r.cookie,
                          encodeStreamHeaderBody(0, s->last - s->first + 1, header.data())));
}

void sendFrame(Client& client, StreamState& state, const StreamRequest& r) {
    std::shared_ptr<OpenStream> s;
    {
        std::lock_guard lock(state.lock);
        auto it = state.open.find(r.cookie);
        if (it == state.open.end()) return;
        s = it->second;
    }
    const uint64_t frame = static_cast<uint64_t>(s->first) + r.frame;
    if (frame > s->last) return sendStatus(client, r.cookie, 0);
    const int index = static_cast<int>(frame);
    auto data = s->reader->videoSample(index);
    if (!data) return sendStatus(client, r.cookie, 1);
    const size_t drop = dropAfter(client);
    if (drop && s->sent == drop) return client.drop();
    if (silentAfter(client) && s->sent == silentAfter(client)) return client.goSilent();

    fsv::platform::ByteWriter record;
    record.u32(s->reader->isKeyFrame(index) ? 1 : 0);
    if (s->mode == stream::kModeDownloadPlay) {
        char text[256] = {0};
        s->reader->readTextSample(index, text, sizeof text);
        record.cstr(text);
    } else {
        SystemTime t;
        t.year = static_cast<uint16_t>(std::atoi(s->date.substr(0, 4).c_str()));
        t.month = static_cast<uint16_t>(std::atoi(s->date.substr(4, 2).c_str()));
        t.day = static_cast<uint16_t>(std::atoi(s->date.substr(6, 2).c_str()));
        s->reader->readTimeStamp(index, t);
        uint8_t time[SystemTime::kSize];
        t.write(time);
        record.bytes(time, sizeof time);
    }
    record.bytes(data->data(), data->size());
    ++s->sent;
    client.reply(
        encodeStreamReply(stream::kData, r.cookie, encodeStreamDataBody(r.frame, record.data())));
    // The end of a download-and-play stream follows its last frame.
    if (s->mode != stream::kModeDownloadPlay || frame != s->last) return;
    if (client.fault("no-status")) return;
    if (client.fault("drop-before-status")) return client.drop();
    sendStatus(client, r.cookie, 0);
}

static HandlerRegistrar streams(cmd::kStreamRequest, [](Client& client, ByteSpan message) {
    if (!client.loggedIn) return;
    auto r = parseStreamRequest(message);
    if (!r) return;
    auto& state = client.extension<StreamState>("stream");
    switch (r->op) {
        case stream::kOpen:
        case stream::kOpenWithId: {
            recordOpen(client.options(), r->open);
            if (client.fault("silent-after-open")) return;
            if (client.fault("short-frame")) {
                const uint8_t body[8] = {};
                client.replyCut(encodeStreamReply(stream::kHeader, r->cookie, body), 5);
                return;
            }
            const bool audio = r->open.mode == stream::kModeFile && r->open.audio;
            const Recordings all = client.server().recordings();
            const SimRecording* rec = findRecording(all, r->open.name, audio);
            if (!rec) return sendStatus(client, r->cookie, 1);
            if (r->open.mode == stream::kModeFile) {
                // The file goes out from a thread of its own, so that this client's other
                // streams and requests are served meanwhile.
                const bool started = client.serve(
                    r->cookie, [&client, req = *r, file = *rec](const std::atomic<bool>& c) {
                        sendFile(client, req, file, c);
                    });
                if (!started) sendStatus(client, r->cookie, 1);
                return;
            }
            return openPlay(client, state, *r, *rec);
        }
        case stream::kPosition:
            return sendFrame(client, state, *r);
        case stream::kClose: {
            client.cancel(r->cookie);
            std::lock_guard lock(state.lock);
            state.open.erase(r->cookie);
            return;
        }
        default:
            return;
    }
});

static HandlerRegistrar frameCount(cmd::kFrameCountQuery, [](Client& client, ByteSpan message) {
    if (!client.loggedIn) return;
    auto q = parseFrameCountQuery(message);
    if (!q) return;
    const Recordings all = client.server().recordings();
    const SimRecording* rec = findRecording(all, q->name, false);
    if (!rec) return;  // the client falls back to its default count
    media::AviReader reader;
    const int count = reader.open(rec->path);
    if (count > 0) client.reply(encodeFrameCountReply(q->name, static_cast<uint32_t>(count)));
});

}  // namespace

}  // namespace fsv::sim
