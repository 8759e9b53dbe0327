#pragma once
// The download history ("Download History"): one row per finished download, for this run of
// the program. Double-clicking a row opens its file: an AVI in local playback (or "This file is
// playing." when it already plays), a WAV in the sound player; anything else does nothing.

#include <QWidget>
#include <filesystem>
#include <string>

#include "ui/lists/LocalFiles.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace fsv::ui {

inline constexpr const char* kFilePlayingText = "This file is playing.";

class DownloadHistoryWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kKeyRole = Qt::UserRole;  // the row's event key

    explicit DownloadHistoryWindow(QWidget* parent = nullptr);

    // Where an opened file goes; without it nothing opens.
    void setFiles(LocalFiles* files) { files_ = files; }
    LocalFiles* files() const { return files_; }

    QTreeWidget& list() { return *list_; }

  public Q_SLOTS:
    void appendRow(const QString& serverName, const QString& serverAddress,
                   const QString& deviceName, const QString& eventKey, const QString& savePath);
    void open(QTreeWidgetItem* item);

  private:
    LocalFiles* files_ = nullptr;
    QTreeWidget* list_;
};

}  // namespace fsv::ui
