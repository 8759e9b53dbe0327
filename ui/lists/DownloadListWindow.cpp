#include "ui/lists/DownloadListWindow.h"

#include <QAction>
#include <QVBoxLayout>

#include "ui/lists/AccessibleWindows.h"
#include "ui/lists/ListColumns.h"

namespace fsv::ui {

DownloadListWindow::DownloadListWindow(DownloadRows& rows, const download::WorkList* progress,
                                       QWidget* parent)
    : QWidget(parent, Qt::Tool), rows_(rows), progress_(progress) {
    markListWindow(this, "DownLoad List");
    setObjectName("downloadListWindow");
    setWindowTitle("DownLoad List");
    list_ = new QTreeWidget(this);
    list_->setObjectName("downloadList");
    list_->setAccessibleName("DownLoad List");
    setColumns(list_,
               {{"Server Name", 100},
                {"Server Address", 120},
                {"Device Name", 110},
                {"Work Name", 150},
                {"Ratio", 50},
                {"Save Path", 300}},
               true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* f5 = new QAction(list_);
    f5->setShortcut(Qt::Key_F5);
    f5->setShortcutContext(Qt::WidgetShortcut);
    list_->addAction(f5);
    connect(f5, &QAction::triggered, this, &DownloadListWindow::fill);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(20, 12, 20, 16);
    lay->addWidget(list_);
    resize(880, 300);

    timer_.setInterval(kRatioPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &DownloadListWindow::updateRatios);
    // Notices come from download threads: the list is redrawn on this thread, and only while
    // it is visible (showing it fills it anew).
    rows_.setListener([this](DownloadRows::Notice, int) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible()) fill();
            },
            Qt::QueuedConnection);
    });
}

DownloadListWindow::~DownloadListWindow() { rows_.setListener(nullptr); }

void DownloadListWindow::fill() {
    const int current = list_->currentItem() ? list_->currentItem()->data(0, kSlotRole).toInt()
                                             : -1;
    list_->clear();
    auto all = rows_.rows();
    for (size_t i = 0; i < all.size(); ++i) {
        const auto& r = all[i];
        if (!r.used) continue;
        auto* item = new QTreeWidgetItem(
            list_, {QString::fromStdString(r.serverName), QString::fromStdString(r.serverAddress),
                    QString::fromStdString(r.deviceName),
                    QString::fromStdString(workNameOf(r.eventKey)),
                    QString::fromStdString(DownloadRows::ratioOf(r, progress_)),
                    QString::fromStdString(r.savePath)});
        item->setData(0, kKeyRole, QString::fromStdString(r.eventKey));
        item->setData(0, kSlotRole, static_cast<int>(i));
        item->setTextAlignment(kRatioColumn, Qt::AlignCenter);
        if (static_cast<int>(i) == current) list_->setCurrentItem(item);
    }
}

void DownloadListWindow::updateRatios() {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        auto* item = list_->topLevelItem(i);
        auto r = rows_.row(item->data(0, kSlotRole).toInt());
        if (!r || !r->running) continue;
        item->setText(kRatioColumn, QString::fromStdString(DownloadRows::ratioOf(*r, progress_)));
    }
}

void DownloadListWindow::showEvent(QShowEvent* e) {
    fill();
    timer_.start();
    QWidget::showEvent(e);
}

void DownloadListWindow::hideEvent(QHideEvent* e) {
    timer_.stop();
    QWidget::hideEvent(e);
}

}  // namespace fsv::ui
