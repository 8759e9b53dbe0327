#include "ui/lists/ArchiveWindow.h"

#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <map>
#include <set>

#include "archive/Catalog.h"
#include "platform/Shared.h"
#include "ui/lists/AccessibleWindows.h"

namespace fsv::ui {

namespace fs = std::filesystem;

namespace {

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// The expansion of the tree, by the texts of an item and its parents, kept across a reload.
QString pathOf(QTreeWidgetItem* item) {
    QString p;
    for (; item; item = item->parent()) p = item->text(0) + QLatin1Char('\n') + p;
    return p;
}

}  // namespace

ArchiveWindow::ArchiveWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    markListWindow(this, "Archive");
    setObjectName(QStringLiteral("archiveWindow"));
    setWindowTitle(QStringLiteral("Archive"));
    folder_ = new QLineEdit(this);
    folder_->setObjectName(QStringLiteral("archiveFolder"));
    folder_->setAccessibleName(QStringLiteral("Archive folder"));
    folder_->setPlaceholderText(QStringLiteral("Archive folder"));
    browse_ = new QPushButton(QStringLiteral("&Browse..."), this);
    browse_->setObjectName(QStringLiteral("archiveBrowse"));
    open_ = new QPushButton(QStringLiteral("&Open"), this);
    open_->setObjectName(QStringLiteral("archiveOpen"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("archiveStatus"));
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("archiveTree"));
    tree_->setAccessibleName(QStringLiteral("Archived recordings"));
    tree_->setHeaderLabels({QStringLiteral("Recording"), QStringLiteral("Size"),
                            QStringLiteral("SHA-256"), QStringLiteral("Verified")});
    tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree_->setColumnWidth(2, 160);

    auto* top = new QHBoxLayout;
    top->addWidget(folder_, 1);
    top->addWidget(browse_);
    top->addWidget(open_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tree_, 1);
    layout->addWidget(status_);
    resize(720, 420);

    watcher_ = new QFileSystemWatcher(this);
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(200);
    connect(settle_, &QTimer::timeout, this, &ArchiveWindow::reload);
    connect(watcher_, &QFileSystemWatcher::fileChanged, settle_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, settle_, qOverload<>(&QTimer::start));
    connect(open_, &QPushButton::clicked, this,
            [this] { openArchive(fs::path(folder_->text().toStdString())); });
    connect(folder_, &QLineEdit::returnPressed, open_, &QPushButton::click);
    connect(browse_, &QPushButton::clicked, this, [this] { browse(); });
    connect(tree_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { activate(item); });
}

void ArchiveWindow::browse() {
    const QString dir =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Archive folder"), folder_->text());
    if (dir.isEmpty()) return;
    folder_->setText(dir);
    openArchive(fs::path(dir.toStdString()));
}

bool ArchiveWindow::openArchive(const fs::path& dir) {
    dir_ = dir;
    if (folder_->text().toStdString() != dir.string()) folder_->setText(qs(dir.string()));
    reload();
    return tree_->topLevelItemCount() > 0 || status_->property("ok").toBool();
}

// The catalog file and its write-ahead log change as a run commits; the folder tells when
// either appears.
void ArchiveWindow::watch() {
    if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
    if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
    if (dir_.empty()) return;
    watcher_->addPath(qs(dir_.string()));
    for (const char* name : {"catalog.sqlite", "catalog.sqlite-wal"}) {
        const fs::path f = dir_ / name;
        if (fs::exists(f)) watcher_->addPath(qs(f.string()));
    }
}

void ArchiveWindow::reload() {
    std::set<QString> expanded;
    for (QTreeWidgetItemIterator it(tree_); *it; ++it)
        if ((*it)->isExpanded()) expanded.insert(pathOf(*it));
    tree_->clear();
    watch();
    archive::Catalog catalog;
    std::string error;
    if (dir_.empty() || !catalog.open(dir_, false, &error)) {
        status_->setProperty("ok", false);
        status_->setText(dir_.empty() ? QString() : qs(error));
        return;
    }
    const auto rows = catalog.find({});
    std::map<QString, QTreeWidgetItem*> nodes;  // by path of texts
    auto node = [&](QTreeWidgetItem* parent, const QString& text) {
        const QString key = (parent ? pathOf(parent) : QString()) + text;
        auto& n = nodes[key];
        if (!n) {
            n = parent ? new QTreeWidgetItem(parent, {text}) : new QTreeWidgetItem(tree_, {text});
            if (expanded.count(pathOf(n))) n->setExpanded(true);
        }
        return n;
    };
    // Sizes as the download list shows them ("%d KB", "%.1f MB", "%.1f GB"), the exact count
    // of bytes in the tool tip; a recorder, camera or day shows what it holds in all.
    std::map<QTreeWidgetItem*, uint64_t> totals;
    auto showSize = [](QTreeWidgetItem* item, uint64_t bytes) {
        item->setText(1, qs(fsv::SizeText(bytes)));
        item->setToolTip(1, QStringLiteral("%L1 bytes").arg(static_cast<qulonglong>(bytes)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    };
    for (auto& r : rows) {
        auto* recorder = node(nullptr, qs(r.recorder));
        const QString channel =
            (r.kind == archive::ChannelKind::Audio ? QStringLiteral("Audio %1")
                                                   : QStringLiteral("Camera %1"))
                .arg(r.code) +
            (r.cameraName.empty() ? QString() : QStringLiteral(" - ") + qs(r.cameraName));
        auto* camera = node(recorder, channel);
        auto* day = node(camera, qs(r.start.substr(0, 10)));
        auto* item = new QTreeWidgetItem(day);
        item->setText(0, qs(r.start.size() > 11 ? r.start.substr(11) : r.start));
        showSize(item, r.bytes);
        for (QTreeWidgetItem* n : {recorder, camera, day}) totals[n] += r.bytes;
        item->setText(2, qs(r.sha256.substr(0, 16)));
        item->setToolTip(2, qs(r.sha256));
        item->setText(3, r.verifiedAt ? QStringLiteral("yes") : QStringLiteral("-"));
        item->setData(0, kPathRole, qs((dir_ / r.path).string()));
        item->setToolTip(0, qs(r.path));
    }
    for (auto& [n, bytes] : totals) showSize(n, bytes);
    status_->setProperty("ok", true);
    status_->setText(QStringLiteral("%1 recordings").arg(rows.size()));
}

void ArchiveWindow::activate(QTreeWidgetItem* item) {
    if (!item) return;
    const QString path = item->data(0, kPathRole).toString();
    if (path.isEmpty() || !files_) return;
    const fs::path file(path.toStdString());
    if (file.extension() == ".wav")
        files_->playWav(file);
    else
        files_->openAvi(file);
}

}  // namespace fsv::ui
