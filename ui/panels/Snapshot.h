#pragma once
// Snapshots of a paused channel: the picture on show with two text lines drawn on it from the
// bottom up (the channel's caption, then its frame time), saved as a 24-bit BMP file.

#include <QImage>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <span>

#include "media/AviTypes.h"
#include "platform/Shared.h"

namespace fsv::ui {

// The time text of the control panel: "HH:MM:SS.mmm".
QString frameTimeText(const SystemTime& time);

// The caption line: "Local File", or "<server> - <camera>" for a streamed channel.
QString snapshotCaption(bool local, const QString& server = {}, const QString& camera = {});

// The picture (bottom-up 24-bit bits described by `header`) with the caption and time lines.
// A null image when the bits are shorter than the header says.
QImage snapshotImage(const media::BitmapInfoHeader& header, std::span<const uint8_t> bits,
                     const QString& caption, const QString& time);

// Writes the snapshot to `path` (replacing it); false on any error.
bool saveSnapshot(const std::filesystem::path& path, const media::BitmapInfoHeader& header,
                  std::span<const uint8_t> bits, const QString& caption, const QString& time);

}  // namespace fsv::ui
