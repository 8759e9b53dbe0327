#include "ui/lists/ChannelListWindow.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/lists/AccessibleWindows.h"
#include "ui/lists/ListColumns.h"
#include "ui/models/DownloadRows.h"

namespace fsv::ui {

namespace {
constexpr const char* kEmpty = "Empty";
}

ChannelListWindow::ChannelListWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    markListWindow(this, "Channel List");
    setObjectName("channelListWindow");
    setWindowTitle("Channel List");
    list_ = new QTreeWidget(this);
    list_->setObjectName("channelList");
    list_->setAccessibleName("Channel List");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    setColumns(list_, {{"#", 25}, {"Server Name", 150}, {"File Name", 320}}, true);
    total_ = new QLineEdit(this);
    total_->setObjectName("totalChannel");
    total_->setReadOnly(true);
    total_->setAccessibleName("Total Channel");
    auto make = [this](const char* text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        return b;
    };
    up_ = make("&Up", "upButton");
    down_ = make("&Down", "downButton");
    disconnect_ = make("Dis&connect", "disconnectButton");
    refresh_ = make("&Refresh", "refreshButton");
    exit_ = make("E&xit", "exitButton");

    auto* fields = new QHBoxLayout;
    fields->addWidget(new QLabel("Total Channel:", this));
    fields->addWidget(total_);
    fields->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->setContentsMargins(0, 0, 2, 0);
    buttons->addStretch(1);
    for (auto* b : {up_, down_, disconnect_, refresh_, exit_}) buttons->addWidget(b);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(20, 12, 20, 8);
    lay->addLayout(fields);
    lay->addWidget(list_, 1);
    lay->addSpacing(16);
    lay->addLayout(buttons);

    connect(up_, &QPushButton::clicked, this, [this] { move(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { move(1); });
    connect(disconnect_, &QPushButton::clicked, this, &ChannelListWindow::disconnectSelected);
    connect(refresh_, &QPushButton::clicked, this, &ChannelListWindow::fill);
    connect(exit_, &QPushButton::clicked, this, &ChannelListWindow::exitList);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &ChannelListWindow::updateButtons);
    connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (host_ && item->text(1) != kEmpty) host_->showChannel(item->text(0).toInt() - 1);
    });
    resize(560, 300);
}

QPushButton* ChannelListWindow::button(const char* objectName) const {
    return findChild<QPushButton*>(objectName);
}

void ChannelListWindow::showEvent(QShowEvent* e) {
    fill();
    QWidget::showEvent(e);
}

void ChannelListWindow::keyReleaseEvent(QKeyEvent* e) {
    updateButtons();
    QWidget::keyReleaseEvent(e);
}

void ChannelListWindow::fill() {
    list_->clear();
    int n = 0;
    for (auto& c : host_ ? host_->channels() : std::vector<Channel>{}) {
        QString server, file;
        switch (c.source) {
            case Channel::Source::Recorder:
                server = QString::fromStdString(c.serverName);
                file = QString::fromStdString(c.cameraName + ": " + workNameOf(c.eventKey));
                break;
            case Channel::Source::Local:
                server = "Local Host";
                file = QString::fromStdString(c.fileName);
                break;
            case Channel::Source::None: server = kEmpty; break;
        }
        new QTreeWidgetItem(list_, {QString::number(++n), server, file});
    }
    total_->setText(QString::number(n));
    updateButtons();
}

void ChannelListWindow::updateButtons() {
    const int count = list_->topLevelItemCount();
    const bool any = !list_->selectedItems().isEmpty();
    up_->setEnabled(any && count > 0 && !list_->topLevelItem(0)->isSelected());
    down_->setEnabled(any && count > 0 && !list_->topLevelItem(count - 1)->isSelected());
    disconnect_->setEnabled(any);
}

void ChannelListWindow::move(int delta) {
    const int count = list_->topLevelItemCount();
    // Up walks from the top, down from the bottom, so a block of rows moves together.
    for (int k = 0; k < count; ++k) {
        const int i = delta < 0 ? k : count - 1 - k;
        auto* item = list_->topLevelItem(i);
        auto* other = list_->topLevelItem(i + delta);
        if (!item->isSelected() || !other || other->isSelected()) continue;
        for (int col = 0; col < list_->columnCount(); ++col) {
            const QString t = item->text(col);
            item->setText(col, other->text(col));
            other->setText(col, t);
        }
        item->setSelected(false);
        other->setSelected(true);
    }
    updateButtons();
}

void ChannelListWindow::disconnectSelected() {
    const auto sel = list_->selectedItems();
    int handled = 0;
    for (auto* item : sel) {
        const int channel = item->text(0).toInt() - 1;
        if (item->text(1) != kEmpty) {
            if (host_) host_->closeChannel(channel);
        } else if (host_) {
            host_->removeChannel(channel);
        }
        delete item;
        ++handled;
    }
    if (handled == 0) return;
    // The channels close on their own threads: the list is read again after they had time.
    QTimer::singleShot(kSettleMsPerRow * handled, this, [this] {
        fill();
        if (list_->topLevelItemCount() == 0) hide();
    });
}

void ChannelListWindow::exitList() {
    for (int i = list_->topLevelItemCount() - 1; i >= 0; --i) {
        auto* item = list_->topLevelItem(i);
        if (item->text(1) != kEmpty) continue;
        if (host_) host_->removeChannel(item->text(0).toInt() - 1);
        delete item;
    }
    hide();
}

}  // namespace fsv::ui
