#include "framestamp/StampExport.h"

#include <QDate>
#include <QFontMetrics>
#include <QPainter>
#include <QStringList>
#include <chrono>
#include <cstring>
#include <system_error>

#include "media/AviReader.h"
#include "media/AviTypes.h"
#include "media/StampedAviWriter.h"

namespace fsv::framestamp {

using media::AviReader;
using media::BitmapInfoHeader;
using media::StampedAviWriter;

int gapPositions(const SystemTime& current, const SystemTime& next) {
    const int gap = (((next.hour - current.hour) * 60 + next.minute - current.minute) * 60 +
                     next.second - current.second) *
                        1000 +
                    next.milliseconds - current.milliseconds;
    const int frames = gap * 3 / 100;
    const int count = frames >= 2 ? frames - 2 : frames;
    return count > 0 ? count : 0;
}

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

using Clock = std::chrono::steady_clock;

double since(Clock::time_point& mark) {
    const auto now = Clock::now();
    const double s = std::chrono::duration<double>(now - mark).count();
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

QRect StampExport::textRect(const QString& text, int height) {
    QImage probe(1, 1, QImage::Format_BGR888);
    QPainter p(&probe);
    const QFontMetrics fm = p.fontMetrics();
    // One pixel of slack on each side for antialiased glyph edges.
    return QRect(0, height - fm.height(), 1 + fm.horizontalAdvance(text) + 2, fm.height());
}

ExportResult StampExport::fail(std::string why) {
    error_ = std::move(why);
    return ExportResult::Failed;
}

ExportResult StampExport::run(const std::filesystem::path& input,
                              const std::filesystem::path& output, const StampOptions& options,
                              const Progress& progress, const std::atomic<bool>* cancel) {
    positions_ = 0;
    times_ = {};
    error_.clear();
    // Writing over the file being read would destroy it.
    std::error_code ec;
    if (std::filesystem::equivalent(input, output, ec)) return fail("the output is the input");

    AviReader reader;
    const int n = reader.open(input, true);
    const uint32_t compression = reader.videoFormat() ? reader.videoFormat()->compression : 0;
    if (progress) progress(0, n);

    StampedAviWriter writer;
    QImage surface;
    QColor colour = colourOf(options.textColour);
    SystemTime current{}, next{};
    ExportResult result = ExportResult::Finished;
    auto mark = Clock::now();
    int i = nextRecorded(reader, 0);
    if (i >= n) return fail("no frames to read");
    for (bool first = true; i < n; first = false) {
        if (!reader.readTimeStamp(i, current)) {
            result = fail("no time stamp for frame " + std::to_string(i));
            break;
        }
        const int following = nextRecorded(reader, i + 1);
        if (following < n) {
            if (!reader.readTimeStamp(following, next)) {
                result = fail("no time stamp for frame " + std::to_string(following));
                break;
            }
        } else {
            next = current;
        }
        const uint8_t* frame = reader.getFrame(i);
        times_.read += since(mark);
        if (!frame) {
            result = fail("frame " + std::to_string(i) + " cannot be decoded");
            break;
        }
        auto header = BitmapInfoHeader::parse({frame, BitmapInfoHeader::kSize});
        if (!header || header->bitCount != 24 || header->height <= 0 ||
            (!surface.isNull() &&
             (header->width != surface.width() || header->height != surface.height()))) {
            result = fail("frame " + std::to_string(i) + " has an unexpected format");
            break;
        }
        const int w = header->width, h = header->height;
        if (first) {
            surface = QImage(w, h, QImage::Format_BGR888);
            if (surface.isNull()) {
                result = fail("no memory for the picture");
                break;
            }
            if (!writer.open(output, kFramesPerSecond, *header, compression)) {
                result = fail("cannot create the output file");
                break;
            }
        }

        // The decoded picture is bottom-up; the surface top-down.
        const size_t stride = media::rgb24Stride(w);
        const uint8_t* bits = frame + BitmapInfoHeader::kSize;
        for (int y = 0; y < h; ++y)
            std::memcpy(surface.scanLine(y), bits + stride * static_cast<size_t>(h - 1 - y),
                        static_cast<size_t>(w) * 3);
        const QString text = overlayText(current, options, locale_);
        if (!text.isEmpty()) {
            QPainter p(&surface);
            if (!p.isActive()) {
                result = fail("cannot draw on the picture");
                break;
            }
            p.setPen(colour);
            // Bottom-aligned on the picture's bottom edge.
            p.drawText(QPointF(1, h - p.fontMetrics().descent()), text);
        }
        times_.draw += since(mark);

        const std::string stamp =
            first ? media::firstFrameTimeText(current) : media::laterFrameTimeText(current);
        const bool written = writer.writeFrameRows(
            surface.constBits(), static_cast<int>(surface.bytesPerLine()), stamp);
        times_.encode += since(mark);
        if (!written) {
            result = fail("cannot write frame " + std::to_string(i));
            break;
        }
        if (following < n)
            for (int k = gapPositions(current, next); k > 0; --k) writer.skip();
        positions_ = writer.position();
        if (progress) progress(following, n);
        if (cancel && cancel->load()) {
            result = ExportResult::Cancelled;
            break;
        }
        i = following;
    }
    // Whatever was written stays a readable file, also after a failure or a cancel.
    const bool closed = writer.close();
    if (result == ExportResult::Finished && !closed) result = fail("cannot finish the output file");
    times_.encode += since(mark);
    return result;
}

}  // namespace fsv::framestamp
