#pragma once
// The archive window ("Archive"): the catalog of an archive folder that fsv archive keeps,
// read-only, as a tree of recorders, their cameras, the days and the recordings. The list is
// read again whenever the catalog changes (a run adding recordings meanwhile). Double-clicking
// a camera's recording plays its file as a local file.

#include <QWidget>
#include <filesystem>

#include "ui/lists/LocalFiles.h"

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace fsv::ui {

class ArchiveWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPathRole = Qt::UserRole;  // a recording's file, absolute

    explicit ArchiveWindow(QWidget* parent = nullptr);

    // Where an opened recording goes: a camera's in local playback, an audio channel's WAV to
    // the sound player. Without it nothing opens.
    void setFiles(LocalFiles* files) { files_ = files; }

    // Reads the catalog of `dir` and follows it; false (with the reason shown in the window)
    // when there is none.
    bool openArchive(const std::filesystem::path& dir);
    QTreeWidget& tree() { return *tree_; }
    QLineEdit& folderField() { return *folder_; }
    QPushButton& openButton() { return *open_; }
    QLabel& statusLabel() { return *status_; }

  public Q_SLOTS:
    void reload();
    void activate(QTreeWidgetItem* item);

  private:
    void browse();
    void watch();

    LocalFiles* files_ = nullptr;
    std::filesystem::path dir_;
    QLineEdit* folder_;
    QPushButton* browse_;
    QPushButton* open_;
    QLabel* status_;
    QTreeWidget* tree_;
    QFileSystemWatcher* watcher_;
    QTimer* settle_;  // changes come in bursts: one reload after them
};

}  // namespace fsv::ui
