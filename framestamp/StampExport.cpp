#include "framestamp/StampExport.h"

#include <unistd.h>

#include <QDate>
#include <QFontMetrics>
#include <QPainter>
#include <QStaticText>
#include <QStringList>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "media/AviReader.h"
#include "media/AviTypes.h"
#include "media/StampedAviWriter.h"
#include "media/VideoEncoder.h"

namespace fsv::framestamp {

using media::AviReader;
using media::BitmapInfoHeader;
using media::StampedAviWriter;

namespace {

// Milliseconds from a to b by the time of day alone (negative when b is earlier).
int64_t gapMs(const SystemTime& a, const SystemTime& b) {
    return ((int64_t(b.hour) - a.hour) * 60 + int64_t(b.minute) - a.minute) * 60000 +
           (int64_t(b.second) - a.second) * 1000 + int64_t(b.milliseconds) - a.milliseconds;
}

}  // namespace

int gapPositions(const SystemTime& current, const SystemTime& next) {
    const int64_t gap = gapMs(current, next);
    if (gap > kMaxFilledGapMs) return 0;
    const int frames = static_cast<int>(gap * 3 / 100);
    const int count = frames >= 2 ? frames - 2 : frames;
    return count > 0 ? count : 0;
}

bool validTimeOfDay(const SystemTime& t) {
    return t.hour < 24 && t.minute < 60 && t.second < 60 && t.milliseconds < 1000;
}

namespace {

// The file the copy is written to before it takes the output's name: beside the output, so
// that the final rename stays within one file system.
std::filesystem::path besideName(const std::filesystem::path& output) {
    return output.parent_path() /
           ("." + output.filename().string() + ".part" + std::to_string(::getpid()));
}

}  // namespace

QString overlayText(const SystemTime& t, const StampOptions& options, const QLocale& locale) {
    QString text;
    if (options.showDate) {
        const QDate date(t.year, t.month, t.day);
        if (date.isValid()) text = locale.toString(date, QLocale::ShortFormat).left(15);
    }
    if (options.showTime) text += QString::asprintf(" %.2d:%.2d:%.2d", t.hour, t.minute, t.second);
    return text;
}

QString qtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            patterns << p;
            if (p.toUpper() != p) patterns << p.toUpper();
        }
        // Qt reads the patterns from the parentheses at the end: a description that carries
        // its own pattern text loses it, so it does not show twice.
        QString description = parts[i];
        if (description.endsWith(u')') && description.lastIndexOf(u'(') > 0)
            description = description.left(description.lastIndexOf(u'(')).trimmed();
        out << description + QStringLiteral(" (") + patterns.join(u' ') + QStringLiteral(")");
    }
    return out.join(u";;");
}

namespace {

// Processor time of the calling thread, in seconds: what the export costs, whatever else the
// machine is doing.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double since(double& mark) {
    const double now = threadSeconds();
    const double s = now - mark;
    mark = now;
    return s;
}

// COLORREF is 0x00BBGGRR.
QColor colourOf(uint32_t c) { return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); }

// The first position at or after `from` that holds a recorded frame. Positions that hold
// neither a picture nor a time (the gaps of a stamped copy) are passed over, so that a stamped
// copy can be stamped again; the gaps come back from the times around them.
int nextRecorded(AviReader& reader, int from) {
    const int n = reader.frameCount();
    for (int i = from; i < n; ++i) {
        const auto size = reader.videoSampleSize(i);
        char text[2];
        if (!size || *size != 0 || !reader.readTextSample(i, text, sizeof text) || text[0])
            return i;
    }
    return n;
}

}  // namespace

namespace {

// The metrics of the font text is drawn with on a picture.
QFontMetrics pictureFontMetrics() {
    QImage probe(1, 1, QImage::Format_BGR888);
    QPainter p(&probe);
    return p.fontMetrics();
}

QRect textRectWith(const QFontMetrics& fm, const QString& text, int height) {
    // One pixel of slack on each side for antialiased glyph edges.
    return QRect(0, height - fm.height(), 1 + fm.horizontalAdvance(text) + 2, fm.height());
}

}  // namespace

QRect StampExport::textRect(const QString& text, int height) {
    return textRectWith(pictureFontMetrics(), text, height);
}

ExportResult StampExport::fail(std::string why) {
    error_ = std::move(why);
    return ExportResult::Failed;
}

namespace {

// Draws the overlay on the picture.
//
// Pictures that decode to 4:2:0 planes (every codec libavcodec decodes) go to the encoder in
// those planes, and only the text's corner takes a trip through RGB: it is converted into a
// QImage, drawn on with QPainter, and the pixels the text changed are converted back (with the
// colour of each 2 x 2 block they touch). The rest of the picture passes through untouched.
// Pictures that only come as 24-bit bitmaps (decoder plug-ins) are drawn whole.
class Overlay {
  public:
    explicit Overlay(QColor colour) : colour_(colour), metrics_(pictureFontMetrics()) {}

    // Draws `text` on the bottom rows of the planes (width and height even).
    void drawPlanar(const media::VideoEncoder::Planes& p, int w, int h, const QString& text) {
        const QRect r = textRectWith(metrics_, text, h).intersected(QRect(0, 0, w, h));
        // Whole 2 x 2 blocks.
        const int x1 = std::min(w, (r.right() + 2) & ~1);
        const int y0 = r.top() & ~1;
        const int bw = x1, bh = h - y0;
        if (bw <= 0 || bh <= 0) return;
        if (band_.width() != bw || band_.height() != bh)
            band_ = QImage(bw, bh, QImage::Format_BGR888);
        for (int y = 0; y < bh; ++y) {
            const uint8_t* py = p.data[0] + size_t(y0 + y) * p.stride[0];
            const uint8_t* pu = p.data[1] + size_t((y0 + y) / 2) * p.stride[1];
            const uint8_t* pv = p.data[2] + size_t((y0 + y) / 2) * p.stride[2];
            uint8_t* out = band_.scanLine(y);
            for (int x = 0; x < bw; ++x) toBgr(py[x], pu[x / 2], pv[x / 2], out + 3 * x);
        }
        if (before_.size() != band_.size()) before_ = QImage(band_.size(), band_.format());
        for (int y = 0; y < bh; ++y)
            std::memcpy(before_.scanLine(y), band_.constScanLine(y), size_t(bw) * 3);
        draw(band_, text);
        for (int y = 0; y < bh; y += 2) {
            const uint8_t* a0 = before_.constScanLine(y);
            const uint8_t* a1 = before_.constScanLine(y + 1);
            const uint8_t* b0 = band_.constScanLine(y);
            const uint8_t* b1 = band_.constScanLine(y + 1);
            uint8_t* py0 = p.data[0] + size_t(y0 + y) * p.stride[0];
            uint8_t* py1 = py0 + p.stride[0];
            uint8_t* pu = p.data[1] + size_t((y0 + y) / 2) * p.stride[1];
            uint8_t* pv = p.data[2] + size_t((y0 + y) / 2) * p.stride[2];
            for (int x = 0; x < bw; x += 2) {
                const int o = 3 * x;
                if (std::memcmp(a0 + o, b0 + o, 6) == 0 && std::memcmp(a1 + o, b1 + o, 6) == 0)
                    continue;
                const uint8_t* px[4] = {b0 + o, b0 + o + 3, b1 + o, b1 + o + 3};
                uint8_t* ys[4] = {py0 + x, py0 + x + 1, py1 + x, py1 + x + 1};
                const uint8_t* was[4] = {a0 + o, a0 + o + 3, a1 + o, a1 + o + 3};
                int sb = 0, sg = 0, sr = 0;
                for (int k = 0; k < 4; ++k) {
                    if (std::memcmp(was[k], px[k], 3) != 0) *ys[k] = lumaOf(px[k]);
                    sb += px[k][0], sg += px[k][1], sr += px[k][2];
                }
                pu[x / 2] =
                    static_cast<uint8_t>(((-38 * sr - 74 * sg + 112 * sb + 512) >> 10) + 128);
                pv[x / 2] =
                    static_cast<uint8_t>(((112 * sr - 94 * sg - 18 * sb + 512) >> 10) + 128);
            }
        }
    }

    // Draws `text` on the bottom edge of a whole picture.
    void draw(QImage& image, const QString& text) {
        QPainter p(&image);
        p.setPen(colour_);
        // The text changes once a second at most: its layout is kept.
        if (layout_.text() != text) {
            layout_.setText(text);
            layout_.setTextFormat(Qt::PlainText);
            layout_.prepare(p.transform(), p.font());
            ascent_ = p.fontMetrics().ascent();
            descent_ = p.fontMetrics().descent();
        }
        // Bottom-aligned on the picture's bottom edge (the layout is placed by its top).
        p.drawStaticText(QPointF(1, image.height() - descent_ - ascent_), layout_);
    }

  private:
    static uint8_t clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
    // ITU-R BT.601, limited range, as the decoders and the encoder use it.
    static void toBgr(int y, int u, int v, uint8_t* out) {
        const int c = 298 * (y - 16), d = u - 128, e = v - 128;
        out[0] = clip((c + 516 * d + 128) >> 8);
        out[1] = clip((c - 100 * d - 208 * e + 128) >> 8);
        out[2] = clip((c + 409 * e + 128) >> 8);
    }
    static uint8_t lumaOf(const uint8_t* bgr) {
        return static_cast<uint8_t>(((66 * bgr[2] + 129 * bgr[1] + 25 * bgr[0] + 128) >> 8) + 16);
    }

    QColor colour_;
    QFontMetrics metrics_;
    QImage band_, before_;
    QStaticText layout_;
    int ascent_ = 0, descent_ = 0;
};

// Compresses and writes the stamped pictures on a thread of its own, so that reading and
// drawing the next pictures overlaps with compressing this one. Pictures wait in a few slots;
// the reading side fills a free slot, the writing side empties it. Only the writer and the
// slots are shared, and the writer only after open() and until the thread is joined.
class EncodeStage {
  public:
    struct Slot {
        std::vector<uint8_t> planes[3];
        int stride[3] = {0, 0, 0};
        std::string stamp;
        int skipAfter = 0;
        media::VideoEncoder::Planes view() {
            return {{planes[0].data(), planes[1].data(), planes[2].data()},
                    {stride[0], stride[1], stride[2]}};
        }
    };

    EncodeStage(StampedAviWriter& writer, int w, int h) : writer_(writer) {
        for (Slot& s : slots_) {
            s.stride[0] = w;
            s.stride[1] = s.stride[2] = w / 2;
            s.planes[0].resize(size_t(w) * h);
            s.planes[1].resize(size_t(w / 2) * (h / 2));
            s.planes[2].resize(size_t(w / 2) * (h / 2));
        }
        thread_ = std::thread([this] { work(); });
    }
    ~EncodeStage() { finish(); }

    // A free slot to fill; null once writing failed.
    Slot* acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return failed_ || queued_ < kSlots; });
        if (failed_) return nullptr;
        return &slots_[(head_ + queued_) % kSlots];
    }
    // Hands the slot from acquire() over to be written.
    void submit() {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            ++queued_;
            wake = writerWaiting_;
        }
        if (wake) changed_.notify_all();
    }
    // Writes what is queued and ends the thread; false when any picture failed.
    bool finish() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                ending_ = true;
            }
            changed_.notify_all();
            thread_.join();
        }
        return !failed_;
    }
    double seconds() const { return seconds_; }  // after finish()

  private:
    static constexpr int kSlots = 6;

    void work() {
        const double start = threadSeconds();
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock lock(mutex_);
                writerWaiting_ = true;
                changed_.wait(lock, [this] { return queued_ > 0 || ending_; });
                writerWaiting_ = false;
                if (queued_ == 0) break;
                slot = &slots_[head_];
            }
            const bool ok = write(*slot);
            bool wake = false;
            {
                std::lock_guard lock(mutex_);
                head_ = (head_ + 1) % kSlots;
                --queued_;
                if (!ok) failed_ = true;
                // The reading side, when it waits for a free slot, is woken once half the slots
                // are free rather than for every one: fewer trips through the scheduler.
                wake = !ok || queued_ == kSlots / 2;
            }
            if (wake) changed_.notify_all();
            if (!ok) break;
        }
        seconds_ = threadSeconds() - start;
    }

    bool write(Slot& slot) {
        if (!writer_.writePlanes(slot.view(), slot.stamp)) return false;
        for (int k = slot.skipAfter; k > 0; --k) writer_.skip();
        return true;
    }

    StampedAviWriter& writer_;
    Slot slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    int head_ = 0, queued_ = 0;
    bool ending_ = false, failed_ = false, writerWaiting_ = false;
    double seconds_ = 0;
    std::thread thread_;
};

}  // namespace

ExportResult StampExport::run(const std::filesystem::path& input,
                              const std::filesystem::path& output, const StampOptions& options,
                              const Progress& progress, const std::atomic<bool>* cancel) {
    namespace fs = std::filesystem;
    positions_ = 0;
    times_ = {};
    error_.clear();
    notes_.clear();
    // Writing over the file being read would destroy it.
    std::error_code ec;
    if (fs::equivalent(input, output, ec)) return fail("the output is the input");
    // The copy is written beside the output and takes its name once it is whole, so a copy
    // that fails never replaces a file that was there. A failed copy with nothing to replace
    // is kept under the output's name: what it holds is readable.
    const fs::path part = besideName(output);
    const bool hadOutput = fs::exists(fs::symlink_status(output, ec));
    const ExportResult result = copy(input, part, options, progress, cancel);
    if (!fs::exists(part, ec)) return result;
    const bool whole = result == ExportResult::Finished || result == ExportResult::Incomplete;
    if (whole || !hadOutput) {
        fs::rename(part, output, ec);
        if (ec) {
            fs::remove(part, ec);
            return fail("cannot give the copy its name");
        }
    } else {
        fs::remove(part, ec);
    }
    return result;
}

namespace {

// The time stamps of frame `i` and of the frame recorded after it (`following`; at the end the
// frame's own). An error text when either is missing or no time of day.
std::string readTimes(AviReader& reader, int i, int following, int n, SystemTime& current,
                      SystemTime& next) {
    if (!reader.readTimeStamp(i, current) || !validTimeOfDay(current))
        return "no valid time stamp for frame " + std::to_string(i);
    if (following >= n) {
        next = current;
        return {};
    }
    if (!reader.readTimeStamp(following, next) || !validTimeOfDay(next))
        return "no valid time stamp for frame " + std::to_string(following);
    return {};
}

// Frame `i` decoded: as 4:2:0 planes when the reader gives them, else as a packed bitmap.
// Returns the picture's format as a 24-bit bitmap header, nothing when it cannot be decoded.
std::optional<BitmapInfoHeader> decode(AviReader& reader, bool planar, int i,
                                       std::optional<media::PlanarPicture>& picture,
                                       const uint8_t*& frame) {
    if (planar) {
        picture = reader.getPlanarFrame(i);
        if (picture) return BitmapInfoHeader::rgb24(picture->width, picture->height);
        return std::nullopt;
    }
    if ((frame = reader.getFrame(i)))
        return BitmapInfoHeader::parse({frame, BitmapInfoHeader::kSize});
    return std::nullopt;
}

// What is wrong with frame `i`'s decoded format: not decoded, not 24-bit, no size, or a size
// other than the first frame's. Empty when it is fine.
std::string formatProblem(const std::optional<BitmapInfoHeader>& header, bool first, int width,
                          int height, int i) {
    if (!header) return "frame " + std::to_string(i) + " cannot be decoded";
    if (header->bitCount != 24 || header->width <= 0 || header->height <= 0 ||
        (!first && (header->width != width || header->height != height)))
        return "frame " + std::to_string(i) + " has an unexpected format";
    return {};
}

// A planar picture with its overlay handed to the encoding stage; false when the stage has
// stopped taking frames.
bool submitPlanar(EncodeStage& stage, const media::PlanarPicture& picture, Overlay& overlay,
                  const QString& text, const std::string& stamp, int skip) {
    EncodeStage::Slot* slot = stage.acquire();
    if (!slot) return false;
    const int w = picture.width, h = picture.height;
    const auto dst = slot->view();
    for (int k = 0; k < 3; ++k) {
        const int rows = k ? h / 2 : h, bytes = k ? w / 2 : w;
        for (int y = 0; y < rows; ++y)
            std::memcpy(dst.data[k] + size_t(y) * dst.stride[k],
                        picture.data[k] + size_t(y) * picture.stride[k], size_t(bytes));
    }
    if (!text.isEmpty()) overlay.drawPlanar(dst, w, h, text);
    slot->stamp = stamp;
    slot->skipAfter = skip;
    stage.submit();
    return true;
}

// A decoded 24-bit picture, bottom-up, into the top-down surface of its size.
void copyBottomUp(const uint8_t* bits, QImage& surface) {
    const int w = surface.width(), h = surface.height();
    const size_t stride = media::rgb24Stride(w);
    for (int y = 0; y < h; ++y)
        std::memcpy(surface.scanLine(y), bits + stride * static_cast<size_t>(h - 1 - y),
                    static_cast<size_t>(w) * 3);
}

// A decoded bitmap frame with its overlay written through the surface, then the positions of
// the gap after it; false when the frame could not be written.
bool writeBitmap(StampedAviWriter& writer, const uint8_t* frame, QImage& surface, Overlay& overlay,
                 const QString& text, const std::string& stamp, int skip, ExportTimes& times,
                 double& mark) {
    copyBottomUp(frame + BitmapInfoHeader::kSize, surface);
    if (!text.isEmpty()) overlay.draw(surface, text);
    times.draw += since(mark);
    const bool written =
        writer.writeFrameRows(surface.constBits(), static_cast<int>(surface.bytesPerLine()), stamp);
    times.encode += since(mark);
    if (!written) return false;
    for (int k = skip; k > 0; --k) writer.skip();
    return true;
}

}  // namespace

ExportResult StampExport::copy(const std::filesystem::path& input,
                               const std::filesystem::path& output, const StampOptions& options,
                               const Progress& progress, const std::atomic<bool>* cancel) {
    AviReader reader;
    const int n = reader.open(input, true);
    const uint32_t compression = reader.videoFormat() ? reader.videoFormat()->compression : 0;
    const bool planar = reader.setPlanarFrames(true);
    if (progress) progress(0, n);

    StampedAviWriter writer;
    QImage surface;  // whole pictures, when they only come as bitmaps
    Overlay overlay(colourOf(options.textColour));
    SystemTime current{}, next{};
    ExportResult result = ExportResult::Finished;
    int width = 0, height = 0;
    std::unique_ptr<EncodeStage> stage;  // declared after the writer: ends before it
    double mark = threadSeconds();
    int i = nextRecorded(reader, 0);
    if (i >= n) return fail("no frames to read");
    for (bool first = true; i < n; first = false) {
        const int following = nextRecorded(reader, i + 1);
        if (const std::string bad = readTimes(reader, i, following, n, current, next);
            !bad.empty()) {
            result = fail(bad);
            break;
        }
        if (following < n) noteLongGap(current, next, i);
        std::optional<media::PlanarPicture> picture;
        const uint8_t* frame = nullptr;
        const std::optional<BitmapInfoHeader> header = decode(reader, planar, i, picture, frame);
        times_.read += since(mark);
        if (const std::string bad = formatProblem(header, first, width, height, i); !bad.empty()) {
            result = fail(bad);
            break;
        }
        const int w = width = header->width, h = height = header->height;
        if (first && !writer.open(output, kFramesPerSecond, *header, compression)) {
            result = fail("cannot create the output file");
            break;
        }
        const QString text = overlayText(current, options, locale_);
        const std::string stamp =
            first ? media::firstFrameTimeText(current) : media::laterFrameTimeText(current);
        const int skip = following < n ? gapPositions(current, next) : 0;
        if (picture) {
            if (!stage) stage = std::make_unique<EncodeStage>(writer, w, h);
            if (!submitPlanar(*stage, *picture, overlay, text, stamp, skip)) {
                result = fail("cannot write the frames before frame " + std::to_string(i));
                break;
            }
            times_.draw += since(mark);
        } else {
            if (first) surface = QImage(w, h, QImage::Format_BGR888);
            if (surface.isNull()) {
                result = fail("no memory for the picture");
                break;
            }
            if (!writeBitmap(writer, frame, surface, overlay, text, stamp, skip, times_, mark)) {
                result = fail("cannot write frame " + std::to_string(i));
                break;
            }
        }
        if (progress) progress(following, n);
        if (cancel && cancel->load()) {
            result = ExportResult::Cancelled;
            break;
        }
        i = following;
    }
    if (stage) {
        if (!stage->finish() && result == ExportResult::Finished)
            result = fail("cannot write the frames");
        times_.encode += stage->seconds();
        stage.reset();
    }
    positions_ = writer.position();
    // Whatever was written stays a readable file, also after a failure or a cancel.
    const bool closed = writer.close();
    if (result == ExportResult::Finished && !closed) result = fail("cannot finish the output file");
    times_.encode += since(mark);
    return checkCut(result, reader.streamInfo(reader.videoIndex()).length, n);
}

// A file cut before its index is read as far as it goes; its header still says how many frames
// it was meant to hold.
ExportResult StampExport::checkCut(ExportResult result, uint32_t declared, int readable) {
    if (result != ExportResult::Finished || declared <= uint32_t(readable)) return result;
    error_ = "the input is cut: " + std::to_string(readable) + " of " + std::to_string(declared) +
             " frames readable";
    return ExportResult::Incomplete;
}

// A gap longer than is filled with repeated positions is told, not kept.
void StampExport::noteLongGap(const SystemTime& current, const SystemTime& next, int frame) {
    if (gapMs(current, next) <= kMaxFilledGapMs) return;
    notes_.push_back("the gap of " + std::to_string(gapMs(current, next) / 1000) +
                     " s after frame " + std::to_string(frame) + " is not kept");
}

}  // namespace fsv::framestamp
