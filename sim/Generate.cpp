#include "Generate.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "media/AviTypes.h"
#include "media/RecordingAviWriter.h"
#include "media/VideoEncoder.h"
#include "platform/Bytes.h"
#include "platform/Shared.h"

namespace fsv::sim {

namespace {

using media::fourcc;

struct CameraKind {
    int width, height;
    media::VideoCodec codec;
    uint32_t handler;
    bool fieldOnly;
};

constexpr CameraKind kKinds[] = {
    {352, 240, media::VideoCodec::Mjpeg, fourcc("dmb1"), false},
    {704, 480, media::VideoCodec::MsMpeg4v2, fourcc("MP42"), false},
    {704, 240, media::VideoCodec::MsMpeg4v2, fourcc("MP42"), true},
};

constexpr const char* kCameraNames[] = {"Entrance", "Parking", "Warehouse", "Office"};

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// A moving bar and the frame number as a row of blocks (bit 0 on the left), on grey.
void drawFrame(media::VideoEncoder::Planes p, int w, int h, int frame, int camera) {
    for (int y = 0; y < h; ++y) std::memset(p.data[0] + y * p.stride[0], 48 + 16 * camera, w);
    for (int y = 0; y < h / 2; ++y) {
        std::memset(p.data[1] + y * p.stride[1], 128, w / 2);
        std::memset(p.data[2] + y * p.stride[2], 128, w / 2);
    }
    const int barW = 16, barX = (frame * 8) % (w - barW);
    for (int y = 0; y < h; ++y) std::memset(p.data[0] + y * p.stride[0] + barX, 235, barW);
    for (int y = 0; y < h / 2; ++y)
        std::memset(p.data[1] + y * p.stride[1] + barX / 2, 90, barW / 2);
    const int block = 16;
    for (int bit = 0; bit < 16 && (bit + 1) * block < w; ++bit) {
        const uint8_t v = (frame >> bit) & 1 ? 235 : 16;
        for (int y = 8; y < 8 + block - 2 && y < h; ++y)
            std::memset(p.data[0] + y * p.stride[0] + 8 + bit * block, v, block - 2);
    }
}

struct Day {
    int year, month, day;
};

bool parseDay(const std::string& text, Day& d) {
    if (text.size() != 8) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    d.year = std::stoi(text.substr(0, 4));
    d.month = std::stoi(text.substr(4, 2));
    d.day = std::stoi(text.substr(6, 2));
    return std::chrono::year_month_day(std::chrono::year(d.year),
                                       std::chrono::month(static_cast<unsigned>(d.month)),
                                       std::chrono::day(static_cast<unsigned>(d.day)))
        .ok();
}

Day addDays(Day d, int n) {
    using namespace std::chrono;
    sys_days s = year_month_day(year(d.year), month(static_cast<unsigned>(d.month)),
                                day(static_cast<unsigned>(d.day)));
    year_month_day r(s + days(n));
    return {static_cast<int>(r.year()), static_cast<int>(static_cast<unsigned>(r.month())),
            static_cast<int>(static_cast<unsigned>(r.day()))};
}

bool writeRecording(const std::filesystem::path& file, const CameraKind& kind, int camera,
                    const Day& day, int startSeconds, int frames, int fps, std::mt19937& rng,
                    std::string* error) {
    media::VideoEncoder enc;
    if (!enc.open(kind.codec, kind.width, kind.height, fps, 12, 5))
        return fail(error, "cannot open the video encoder");

    media::RecordingHeader header;
    media::AviStreamInfo& v = header.video;
    v.fccType = media::kStreamVideo;
    v.fccHandler = kind.handler;
    v.scale = 1;
    v.rate = static_cast<uint32_t>(fps);
    v.quality = 0xFFFFFFFF;
    v.suggestedBufferSize = static_cast<uint32_t>(kind.width * kind.height / 4);
    v.frameRight = kind.width;
    v.frameBottom = kind.height;
    v.name = format("cam%02d%s", camera, kind.fieldOnly ? "_FSV" : "");
    media::AviStreamInfo& t = header.text;
    t.fccType = media::kStreamText;
    t.scale = 1;
    t.rate = static_cast<uint32_t>(fps);
    t.suggestedBufferSize = 32;
    t.name = "time";

    media::RecordingAviWriter writer;
    media::RecordingAviWriter::Options options;
    options.fieldOnlyChange = false;  // the recorder keeps the stream as it was recorded
    if (!writer.open(file, header, options)) return fail(error, "cannot create " + file.string());

    // Time of day in milliseconds; frames about 1000/fps apart, one longer gap in the middle.
    int64_t ms = static_cast<int64_t>(startSeconds) * 1000;
    const int step = 1000 / fps;
    std::uniform_int_distribution<int> jitter(-step / 5, step / 5);
    std::vector<uint8_t> packet;
    for (int i = 0; i < frames; ++i) {
        SystemTime st;
        st.year = static_cast<uint16_t>(day.year);
        st.month = static_cast<uint16_t>(day.month);
        st.day = static_cast<uint16_t>(day.day);
        st.hour = static_cast<uint16_t>(ms / 3600000 % 24);
        st.minute = static_cast<uint16_t>(ms / 60000 % 60);
        st.second = static_cast<uint16_t>(ms / 1000 % 60);
        st.milliseconds = static_cast<uint16_t>(ms % 1000);
        std::string text = i == 0 ? media::firstFrameTimeText(st) : media::laterFrameTimeText(st);
        drawFrame(enc.picture(), kind.width, kind.height, i, camera);
        bool key = false;
        if (!enc.encode(packet, key)) return fail(error, "encoding failed");
        if (!writer.addFrame(packet, key, text))
            return fail(error, "cannot write " + file.string());
        ms += step + jitter(rng);
        if (i == frames / 2) ms += 1500;  // the recorder paused: a gap of 1.5 seconds
    }
    if (!writer.close()) return fail(error, "cannot finish " + file.string());
    return true;
}

bool writeWav(const std::filesystem::path& file, double seconds, int tone) {
    const uint32_t rate = 8000;
    const uint32_t samples = static_cast<uint32_t>(seconds * rate);
    fsv::platform::ByteWriter w;
    w.u32(fourcc("RIFF")).u32(36 + samples * 2).u32(fourcc("WAVE"));
    w.u32(fourcc("fmt ")).u32(16).u16(1).u16(1).u32(rate).u32(rate * 2).u16(2).u16(16);
    w.u32(fourcc("data")).u32(samples * 2);
    for (uint32_t i = 0; i < samples; ++i)
        w.i16(static_cast<int16_t>(6000 * std::sin(2 * M_PI * tone * i / rate)));
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(w.data().data()),
              static_cast<std::streamsize>(w.size()));
    return static_cast<bool>(out);
}

}  // namespace

bool generateRecordings(const std::filesystem::path& dir, const GenerateOptions& options,
                        std::string* error) {
    Day last{};
    if (!parseDay(options.lastDay, last)) return fail(error, "bad day " + options.lastDay);
    if (options.cameras < 0 || options.cameras > 99 || options.audioChannels < 0 ||
        options.audioChannels > 99 || options.days < 0 || options.eventsPerDay < 0 ||
        options.eventsPerDay > 100 || options.framesPerSecond <= 0 ||
        options.framesPerSecond > 60 || !(options.secondsPerEvent > 0) ||
        options.cameraOffsetSeconds < 0 || options.cameraOffsetSeconds > 3600)
        return fail(error, "bad generator options");
    const int frames =
        std::max(2, static_cast<int>(options.secondsPerEvent * options.framesPerSecond));
    std::mt19937 rng(options.seed);
    std::error_code ec;
    for (int d = 0; d < options.days; ++d) {
        const Day day = addDays(last, d - options.days + 1);
        const std::string dayText = format("%04d%02d%02d", day.year, day.month, day.day);
        for (int e = 0; e < options.eventsPerDay; ++e) {
            // Events spread over the day: 08:00 plus one hour per event, each camera starting a
            // little later than the one before (three minutes unless asked otherwise).
            const int base = (8 + e) * 3600 + 17 * e;
            for (int c = 1; c <= options.cameras; ++c) {
                const auto folder = dir / format("Cam%02d", c) / dayText;
                std::filesystem::create_directories(folder, ec);
                if (ec) return fail(error, "cannot create " + folder.string());
                if (d == 0 && e == 0 && c <= 4 && c % 2 == 1) {
                    std::ofstream(dir / format("Cam%02d", c) / "name")
                        << kCameraNames[c - 1] << "\n";
                }
                const int start = base + (c - 1) * options.cameraOffsetSeconds;
                const auto file =
                    folder / format("%02d%02d%02d.avi", start / 3600, start / 60 % 60, start % 60);
                if (!writeRecording(file, kKinds[(c - 1) % 3], c, day, start, frames,
                                    options.framesPerSecond, rng, error))
                    return false;
            }
            for (int a = 1; a <= options.audioChannels; ++a) {
                const auto folder = dir / format("Aud%02d", a) / dayText;
                std::filesystem::create_directories(folder, ec);
                if (ec) return fail(error, "cannot create " + folder.string());
                const auto file =
                    folder / format("%02d%02d%02d.wav", base / 3600, base / 60 % 60, base % 60);
                if (!writeWav(file, options.secondsPerEvent, 440 + 110 * a))
                    return fail(error, "cannot write " + file.string());
            }
        }
    }
    return true;
}

}  // namespace fsv::sim
