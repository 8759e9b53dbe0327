#pragma once
// The download history ("Download History"): one row per finished download, for this run of
// the program. Double-clicking a row opens its file: an AVI in local playback (or "This file is
// playing." when it already plays), a WAV in the sound player; anything else does nothing.

#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

class QTreeWidget;
class QTreeWidgetItem;

namespace fsv::ui {

inline constexpr const char* kFilePlayingText = "This file is playing.";

class DownloadHistoryWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kKeyRole = Qt::UserRole;  // the row's event key

    explicit DownloadHistoryWindow(QWidget* parent = nullptr);

    // The main window's side: whether a file plays now, and local playback of an AVI.
    std::function<bool(const std::filesystem::path&)> isPlaying;
    std::function<void(const std::filesystem::path&)> openAvi;
    // The sound player; by default the desktop's handler of the file.
    std::function<void(const std::filesystem::path&)> playWav;

    QTreeWidget& list() { return *list_; }

  public Q_SLOTS:
    void appendRow(const QString& serverName, const QString& serverAddress,
                   const QString& deviceName, const QString& eventKey, const QString& savePath);
    void open(QTreeWidgetItem* item);

  private:
    QTreeWidget* list_;
};

}  // namespace fsv::ui
