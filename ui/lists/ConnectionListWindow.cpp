#include "ui/lists/ConnectionListWindow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include "ui/lists/AccessibleWindows.h"
#include "ui/lists/ListColumns.h"
#include "ui/models/DownloadRows.h"

namespace fsv::ui {

namespace {
constexpr int kIdRole = Qt::UserRole;  // connection id
constexpr int kTypeRole = Qt::UserRole + 2;
const char* typeText(int type) {
    switch (type) {
        case 0: return "Download & Play";
        case 1: return "Just Download";
        case 2: return "Just Play";
    }
    return "";
}
}  // namespace

ConnectionListWindow::ConnectionListWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    markListWindow(this, "Connection List");
    setObjectName("connectionListWindow");
    setWindowTitle("Connection List");
    list_ = new QTreeWidget(this);
    list_->setObjectName("connectionList");
    list_->setAccessibleName("Connection List");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    total_ = new QLineEdit(this);
    total_->setObjectName("totalNumber");
    total_->setReadOnly(true);
    total_->setAccessibleName("Total number");
    shown_ = new QLineEdit(this);
    shown_->setObjectName("connectionText");
    shown_->setReadOnly(true);
    shown_->setAccessibleName("Connection");
    first_ = new QPushButton(this);
    first_->setObjectName("workListButton");
    second_ = new QPushButton(this);
    second_->setObjectName("disconnectButton");
    refresh_ = new QPushButton("&Refresh", this);
    refresh_->setObjectName("refreshButton");
    exit_ = new QPushButton("E&xit", this);
    exit_->setObjectName("exitButton");

    auto* fields = new QHBoxLayout;
    fields->addWidget(new QLabel("Total number:", this));
    fields->addWidget(total_);
    fields->addWidget(shown_, 1);
    // Buttons along the bottom edge from right to left, 2 pixels apart, 22 from the right.
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->setContentsMargins(0, 0, 2, 0);
    buttons->addStretch(1);
    for (auto* b : {first_, second_, refresh_, exit_}) buttons->addWidget(b);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(20, 12, 20, 8);
    lay->addLayout(fields);
    lay->addWidget(list_, 1);
    lay->addSpacing(16);
    lay->addLayout(buttons);

    connect(first_, &QPushButton::clicked, this, [this] {
        if (mode_ == Mode::Connections) workList();
        else setMode(Mode::Connections);
    });
    connect(second_, &QPushButton::clicked, this, [this] {
        if (mode_ == Mode::Connections) disconnectSelected();
        else deleteSelected();
    });
    connect(refresh_, &QPushButton::clicked, this, &ConnectionListWindow::fill);
    connect(exit_, &QPushButton::clicked, this, &QWidget::hide);
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            &ConnectionListWindow::updateButtons);
    setMode(Mode::Connections);
    resize(460, 300);
}

void ConnectionListWindow::showEvent(QShowEvent* e) {
    fill();
    QWidget::showEvent(e);
}

void ConnectionListWindow::setMode(Mode m) {
    mode_ = m;
    list_->clearSelection();
    if (m == Mode::Connections) {
        setColumns(list_,
                   {{"Server Name", 100},
                    {"Server Address", 120},
                    {"Total Works", 91},
                    {"Login Time", 84}},
                   false);
        first_->setText("&Work List");
        second_->setText("&Disconnect");
        shown_->hide();
    } else {
        setColumns(list_, {{"Device Name", 100}, {"Work Name", 150}, {"Type", 125}}, false);
        first_->setText("Back");
        second_->setText("&Delete");
        shown_->setText(connectionText_);
        shown_->show();
    }
    fill();
}

void ConnectionListWindow::fill() {
    list_->clear();
    if (mode_ == Mode::Connections) {
        for (auto& c : host_ ? host_->connections() : std::vector<Connection>{}) {
            auto* item = new QTreeWidgetItem(
                list_, {QString::fromStdString(c.serverName),
                        QString::fromStdString(c.serverAddress), QString::number(c.works),
                        QDateTime::fromSecsSinceEpoch(c.loginTime).toString("HH:mm:ss")});
            item->setData(0, kIdRole, c.id);
        }
    } else if (host_) {
        for (auto& w : host_->worksOf(connection_)) {
            auto* item = new QTreeWidgetItem(
                list_, {QString::fromStdString(w.deviceName),
                        QString::fromStdString(workNameOf(w.eventKey)), typeText(w.type)});
            // The key stays with the row: the shown date is the user's locale's.
            item->setData(0, kKeyRole, QString::fromStdString(w.eventKey));
            item->setData(0, kTypeRole, w.type);
        }
    }
    total_->setText(QString::number(list_->topLevelItemCount()));
    updateButtons();
}

void ConnectionListWindow::updateButtons() {
    const bool any = !list_->selectedItems().isEmpty();
    first_->setEnabled(mode_ == Mode::Works || any);
    second_->setEnabled(any && (mode_ == Mode::Connections || host_ != nullptr));
}

void ConnectionListWindow::workList() {
    auto sel = list_->selectedItems();
    if (sel.isEmpty()) return;
    auto* item = sel.first();
    connection_ = item->data(0, kIdRole).toInt();
    connectionText_ = QString("%1 (%2)").arg(item->text(0), item->text(1));
    setMode(Mode::Works);
}

void ConnectionListWindow::disconnectSelected() {
    auto sel = list_->selectedItems();
    // From the last selected to the first.
    std::sort(sel.begin(), sel.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return list_->indexOfTopLevelItem(a) > list_->indexOfTopLevelItem(b);
    });
    for (auto* item : sel) {
        const int id = item->data(0, kIdRole).toInt();
        std::string file;
        if (host_ && host_->hasUnfinishedWork(id) &&
            Prompts::box(this, kSaveUnfinishedQuestion, {BoxButtons::YesNo, BoxIcon::Question}) ==
                BoxAnswer::Yes)
            file = Prompts::saveFile(this, kResumeFileFilter, kResumeFileExtension).string();
        if (host_) host_->closeConnection(id, file);
        delete item;
    }
    total_->setText(QString::number(list_->topLevelItemCount()));
    updateButtons();
    if (list_->topLevelItemCount() == 0) hide();
}

void ConnectionListWindow::deleteSelected() {
    auto sel = list_->selectedItems();
    std::sort(sel.begin(), sel.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return list_->indexOfTopLevelItem(a) > list_->indexOfTopLevelItem(b);
    });
    bool refused = false;
    for (auto* item : sel) {
        if (!host_) break;
        if (!host_->deleteWork(connection_, item->text(0).toStdString(),
                               item->data(0, kTypeRole).toInt() == 1,
                               item->data(0, kKeyRole).toString().toStdString())) {
            refused = true;  // it runs: its row stays while it goes on
            continue;
        }
        delete item;
    }
    if (refused) Prompts::box(this, kWorkRunningText, {BoxButtons::Ok, BoxIcon::Information});
    total_->setText(QString::number(list_->topLevelItemCount()));
    updateButtons();
}

}  // namespace fsv::ui
