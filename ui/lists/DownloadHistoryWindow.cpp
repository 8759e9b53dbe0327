#include "ui/lists/DownloadHistoryWindow.h"

#include <QVBoxLayout>

#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include "ui/lists/AccessibleWindows.h"
#include "ui/lists/ListColumns.h"
#include "ui/models/DownloadRows.h"

namespace fsv::ui {

DownloadHistoryWindow::DownloadHistoryWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    markListWindow(this, "Download History");
    setObjectName("downloadHistoryWindow");
    setWindowTitle("Download History");
    list_ = new QTreeWidget(this);
    list_->setObjectName("historyList");
    list_->setAccessibleName("Download History");
    setColumns(list_,
               {{"Server Name", 100},
                {"Server Address", 120},
                {"Device Name", 110},
                {"Work Name", 150},
                {"Save Path", 300}},
               true);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(20, 12, 20, 16);
    lay->addWidget(list_);
    resize(830, 300);
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { open(item); });
}

void DownloadHistoryWindow::appendRow(const QString& serverName, const QString& serverAddress,
                                      const QString& deviceName, const QString& eventKey,
                                      const QString& savePath) {
    auto* item = new QTreeWidgetItem(
        list_, {serverName, serverAddress, deviceName,
                QString::fromStdString(workNameOf(eventKey.toStdString())), savePath});
    item->setData(0, kKeyRole, eventKey);
}

void DownloadHistoryWindow::open(QTreeWidgetItem* item) {
    if (!item) return;
    const QString path = item->text(4);
    const QString kind = path.right(3).toLower();
    const std::filesystem::path file = path.toStdString();
    if (!files_) return;
    if (kind == "avi") {
        if (files_->isPlaying(file)) {
            Prompts::box(this, kFilePlayingText, {BoxButtons::Ok, BoxIcon::Information});
            return;
        }
        files_->openAvi(file);
    } else if (kind == "wav") {
        files_->playWav(file);
    }
}

}  // namespace fsv::ui
