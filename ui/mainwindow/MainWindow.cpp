#include "ui/mainwindow/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "merge/KtMerge.h"
#include "platform/UserPort.h"
#include "ui/BackendSignals.h"
#include "ui/Prompts.h"
#include "ui/mainwindow/StatusWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/skin/SkinSurface.h"

namespace fsv::ui {

namespace {

struct ButtonText {
    const char* object;
    const char* text;
    const char* tip;
    const char* shortcut;
};
// The eight toolbar buttons of line 6, in index order.
constexpr ButtonText kButtons[8] = {
    {"setupButton", "Setup", "Settings of the viewer", "Ctrl+1"},
    {"addressBookButton", "Address Book", "Edit the address book and connect from it", "Ctrl+2"},
    {"fileButton", "File", "Save or load the connective status, load a resume file", "Ctrl+3"},
    {"windowsButton", "Windows", "Show or hide the list windows", "Ctrl+4"},
    {"openAviButton", "Open AVI", "Play AVI files from the disk", "Ctrl+5"},
    {"modeButton", "Mode", "Normal or advanced view", "Ctrl+6"},
    {"closeButton", "Close", "Close connections", "Ctrl+7"},
    {"connectButton", "Connect To...", "Connect to a recorder", "Ctrl+8"},
};

}  // namespace

MainWindow::MainWindow(ViewerBackend& backend, QWidget* parent)
    : QMainWindow(parent), backend_(backend) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Farsight Viewer"));
    setAccessibleName(QStringLiteral("Farsight Viewer"));
    buttonStates_.fill(-1);

    connectionList_ = new QTreeWidget(this);
    connectionList_->setObjectName(QStringLiteral("connectionList"));
    connectionList_->setAccessibleName(QStringLiteral("Connection List"));
    connectionList_->setRootIsDecorated(false);
    connectionList_->setHeaderLabels({QStringLiteral("Recorder"), QStringLiteral("Address"),
                                      QStringLiteral("Connected at"), QStringLiteral("Cameras"),
                                      QStringLiteral("Audio")});
    connectionList_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connectionList_->header()->setStretchLastSection(true);
    // The channel view takes the panels of open channels; below it the open connections.
    channels_ = new ChannelView(backend_.frameSlots(), this);
    channels_->setObjectName(QStringLiteral("channelView"));
    channels_->setAccessibleName(QStringLiteral("Channel View"));
    connect(channels_, &ChannelView::activePanelChanged, this, [this] {
        playback_->setChannel(currentChannel());
        refreshCommands();
    });
    connect(channels_, &ChannelView::panelMenuRequested, this, &MainWindow::showChannelMenu);
    playback_ = new PlaybackPanel(backend_, this);
    playback_->setObjectName(QStringLiteral("playbackPanel"));
    playback_->clipBusy = [] { return KtMerge_IsNotEnd() != 0; };
    playback_->addShortcuts(this);
    backend_.showPage(channels_->firstChannel(), channels_->channelsPerPage());
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("mainSplitter"));
    split->addWidget(channels_);
    split->addWidget(connectionList_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    split->setSizes({450, 150});
    // Under them the plain window's control panel; a skin brings its own.
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("mainContent"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(split, 1);
    column->addWidget(buildTimeline(content));
    column->addWidget(playback_->makePlainBar(
        content, [this](int line, int index) { dispatchButton(line, index); }));
    setCentralWidget(content);
    content_ = content;

    status_ = new StatusWindow(this, [this] { backend_.cancelWait(); });

    buildMenus();
    buildToolbar();
    // No connection yet: the close and mode buttons wait for the first one.
    setButtonState(kToolbarLine, kCloseButton, 0);
    setButtonState(kToolbarLine, kModeButton, 0);
    refreshCommands();

    followBackend();
    startClipComponent();
}

MainWindow::~MainWindow() {
    disconnect(&backend_.notices(), nullptr, this, nullptr);
    stopClipComponent();
}

QAction* MainWindow::addCommand(int id, const QString& text, const QKeySequence& shortcut) {
    auto* a = new QAction(text, this);
    a->setObjectName(QStringLiteral("command%1").arg(id));
    a->setData(id);
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    addAction(a);  // shortcuts work without the menu open
    commands_[id] = a;
    return a;
}

void MainWindow::buildMenus() {
    fileMenu_ = new QMenu(QStringLiteral("&File"), this);
    fileMenu_->setObjectName(QStringLiteral("fileMenu"));
    fileMenu_->addAction(addCommand(cmd::kSaveConnectiveStatus,
                                    QStringLiteral("&Save Connective Status"), QKeySequence::Save));
    fileMenu_->addAction(addCommand(cmd::kLoadConnectiveStatus,
                                    QStringLiteral("&Load Connective Status"), QKeySequence::Open));
    fileMenu_->addAction(addCommand(cmd::kLoadResumeFile, QStringLiteral("Load &Resume File"),
                                    QKeySequence(QStringLiteral("Ctrl+R"))));

    windowsMenu_ = new QMenu(QStringLiteral("&Windows"), this);
    windowsMenu_->setObjectName(QStringLiteral("windowsMenu"));
    windowsMenu_->addAction(addCommand(cmd::kChannelList, QStringLiteral("Channel List"),
                                       QKeySequence(QStringLiteral("Ctrl+Shift+C"))));
    windowsMenu_->addAction(addCommand(cmd::kConnectionList, QStringLiteral("Connection List"),
                                       QKeySequence(QStringLiteral("Ctrl+Shift+L"))));
    windowsMenu_->addAction(addCommand(cmd::kDownloadList, QStringLiteral("Download List"),
                                       QKeySequence(QStringLiteral("Ctrl+Shift+D"))));
    windowsMenu_->addAction(addCommand(cmd::kDownloadHistory, QStringLiteral("Download History"),
                                       QKeySequence(QStringLiteral("Ctrl+Shift+H"))));
    windowsMenu_->addAction(addCommand(cmd::kArchive, QStringLiteral("Archive"),
                                       QKeySequence(QStringLiteral("Ctrl+Shift+R"))));
    for (int id : {cmd::kChannelList, cmd::kConnectionList, cmd::kDownloadList,
                   cmd::kDownloadHistory, cmd::kArchive})
        commands_[id]->setCheckable(true);

    modeMenu_ = new QMenu(QStringLiteral("&Mode"), this);
    modeMenu_->setObjectName(QStringLiteral("modeMenu"));
    modeMenu_->addAction(addCommand(cmd::kNormal, QStringLiteral("&Normal"),
                                    QKeySequence(QStringLiteral("Ctrl+Shift+N"))));
    modeMenu_->addAction(addCommand(cmd::kAdvanced, QStringLiteral("&Advanced"),
                                    QKeySequence(QStringLiteral("Ctrl+Shift+A"))));
    commands_[cmd::kNormal]->setCheckable(true);
    commands_[cmd::kAdvanced]->setCheckable(true);

    closeMenu_ = new QMenu(QStringLiteral("C&onnections"), this);
    closeMenu_->setObjectName(QStringLiteral("closeMenu"));
    closeMenu_->addAction(addCommand(cmd::kCloseAllConnections,
                                     QStringLiteral("Close &All Connections"),
                                     QKeySequence(QStringLiteral("Ctrl+Shift+W"))));
    closeMenu_->addAction(addCommand(cmd::kSelectDisconnections,
                                     QStringLiteral("&Select Disconnections"),
                                     QKeySequence(QStringLiteral("Ctrl+Shift+S"))));

    auto* channelMenu = new QMenu(QStringLiteral("&Channel"), this);
    channelMenu->setObjectName(QStringLiteral("channelMenu"));
    channelMenu->addAction(
        addCommand(cmd::kPlay, QStringLiteral("&Play"), QKeySequence(QStringLiteral("Ctrl+P"))));
    channelMenu->addAction(addCommand(cmd::kPause, QStringLiteral("P&ause"),
                                      QKeySequence(QStringLiteral("Ctrl+Shift+P"))));
    channelMenu->addAction(
        addCommand(cmd::kDisconnect, QStringLiteral("&Disconnect"), QKeySequence::Close));
    channelMenu->addSeparator();
    channelMenu->addAction(
        addCommand(cmd::kNextPage, QStringLiteral("&Next Page"), QKeySequence(Qt::Key_PageDown)));
    channelMenu->addAction(addCommand(cmd::kPreviousPage, QStringLiteral("Pre&vious Page"),
                                      QKeySequence(Qt::Key_PageUp)));
    channelMenu->addSeparator();
    channelMenu->addAction(addCommand(cmd::kSaveAsBmp, QStringLiteral("&Save As BMP File"),
                                      QKeySequence(QStringLiteral("Ctrl+B"))));
    channelMenu->addAction(addCommand(cmd::kSaveAsAvi, QStringLiteral("Save as &AVI File"),
                                      QKeySequence(QStringLiteral("Ctrl+Shift+V"))));

    // The same commands in a menu bar, for the keyboard and for screen readers.
    menuBar()->setObjectName(QStringLiteral("menuBar"));
    menuBar()->addMenu(fileMenu_);
    menuBar()->addMenu(closeMenu_);
    menuBar()->addMenu(channelMenu);
    menuBar()->addMenu(windowsMenu_);
    menuBar()->addMenu(modeMenu_);

    mainMenu_ = new QMenu(QStringLiteral("Menu"), this);
    mainMenu_->setObjectName(QStringLiteral("mainMenu"));
    for (QMenu* m : {fileMenu_, closeMenu_, channelMenu, windowsMenu_, modeMenu_}) {
        mainMenu_->addMenu(m);
        // The checks follow windows the user may have closed by their own close button.
        connect(m, &QMenu::aboutToShow, this, &MainWindow::refreshCommands);
    }
}

void MainWindow::buildToolbar() {
    auto* bar = new QToolBar(QStringLiteral("Toolbar"), this);
    toolbar_ = bar;
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setAccessibleName(QStringLiteral("Toolbar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (int i = 0; i < 8; ++i) {
        auto* b = new QToolButton(bar);
        b->setObjectName(QString::fromLatin1(kButtons[i].object));
        b->setText(QString::fromLatin1(kButtons[i].text));
        b->setAccessibleName(QString::fromLatin1(kButtons[i].text));
        b->setAccessibleDescription(QString::fromLatin1(kButtons[i].tip));
        b->setShortcut(QKeySequence(QString::fromLatin1(kButtons[i].shortcut)));
        b->setToolTip(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(kButtons[i].tip),
                                                    QString::fromLatin1(kButtons[i].shortcut)));
        b->setFocusPolicy(Qt::StrongFocus);
        connect(b, &QToolButton::clicked, this, [this, i] { dispatchButton(kToolbarLine, i); });
        bar->addWidget(b);
        buttons_[static_cast<size_t>(i)] = b;
    }
    addToolBar(Qt::TopToolBarArea, bar);
}

void MainWindow::setButtonState(int line, int index, int state) {
    if (line != kToolbarLine || index < 0 || index >= 8) return;
    const auto i = static_cast<size_t>(index);
    if (buttonStates_[i] == state) return;
    buttonStates_[i] = state;
    QToolButton* b = buttons_[i];
    if (!b) return;
    b->setEnabled(state != 0);
    b->setDown(state == 1);
    if (skin_) skin_->setButtonLook(line, index, state);
}

int MainWindow::buttonState(int line, int index) const {
    if (line != kToolbarLine || index < 0 || index >= 8) return -1;
    return buttonStates_[static_cast<size_t>(index)];
}

void MainWindow::setPinnedPosition(std::optional<QPoint> position) {
    pinned_ = position;
    if (pinned_) move(*pinned_);
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // A window KorSetAppPos.ini places stays where the file puts it.
    if (pinned_ && pos() != *pinned_)
        QTimer::singleShot(0, this, [this] {
            if (pinned_ && pos() != *pinned_) move(*pinned_);
        });
}

bool MainWindow::confirmExit() {
    if (backend_.sessions().empty()) return true;
    return Prompts::box(this, kStillConnectedQuestion, {BoxButtons::YesNo, BoxIcon::Question}) ==
           BoxAnswer::Yes;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    if (!confirmExit()) {
        event->ignore();
        return;
    }
    exiting_ = true;
    status_->hide();
    hide();
    backend_.shutdown();
    event->accept();
    Q_EMIT exited();
}

}  // namespace fsv::ui
