#pragma once
// The main window "Farsight Viewer": the toolbar of eight buttons (dispatcher line 6), the
// commands of the main menu, the connection list and the status window. Every button click
// goes through dispatchButton(line, index), so a skin changes the look of the buttons and
// nothing else. The split by concern:
//   MainWindow.cpp          construction, toolbar, menus, close
//   MainWindowCommands.cpp  the button dispatcher and the menu commands
//   MainWindowConnect.cpp   connecting, the status window, the backend's signals
//   MainWindowFiles.cpp     saved connection sets and resume files
//   MainWindowSkin.cpp      the skinned surface, the frameless window and its main menu
//   MainWindowChannels.cpp  the active channel: its pop-up menu, snapshots and clips
//   MainWindowSync.cpp      what each panel shows while the local files play in step
//   MainWindowTimeline.cpp  the timeline under the panels
// The playback control panel (ui/playback) steers the channel of the active panel.

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "recordings/EventList.h"
#include "recordings/playback/Timeline.h"
#include "ui/ViewerBackend.h"

class QAction;
class QImage;
class QTimer;
class QMenu;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QWidget;

namespace fsv::ui::skin {
class SkinSurface;
}

namespace fsv::ui {

class StatusWindow;
class ChannelView;
class PlaybackPanel;
class TimelineView;
struct TimelineColours;

// The timeline's colours in `skin`: its playback status panel's where it has them.
TimelineColours timelineColours(const ::fsv::ui::skin::SkinSurface& skin);

// Menu command ids of the main menu.
namespace cmd {
inline constexpr int kCloseAllConnections = 32812;
inline constexpr int kSelectDisconnections = 32813;
inline constexpr int kSaveConnectiveStatus = 32814;
inline constexpr int kLoadConnectiveStatus = 32816;
inline constexpr int kPause = 32817;
inline constexpr int kPlay = 32818;
inline constexpr int kDisconnect = 32819;
inline constexpr int kChannelList = 32820;
inline constexpr int kConnectionList = 32821;
inline constexpr int kDownloadList = 32822;
inline constexpr int kNormal = 32823;
inline constexpr int kAdvanced = 32824;
inline constexpr int kLoadResumeFile = 32825;
inline constexpr int kSaveAsBmp = 32826;
inline constexpr int kSaveAsAvi = 32827;
inline constexpr int kDownloadHistory = 32829;
inline constexpr int kNextPage = 32840;      // Page Down: the next page of channels
inline constexpr int kPreviousPage = 32841;  // Page Up
inline constexpr int kArchive = 32900;       // the archive window
}  // namespace cmd

// The toolbar line of the button dispatcher and its buttons.
inline constexpr int kToolbarLine = 6;
enum ToolbarButton : int {
    kSetupButton = 0,
    kAddressBookButton = 1,
    kFileButton = 2,
    kWindowsButton = 3,
    kOpenAviButton = 4,
    kModeButton = 5,
    kCloseButton = 6,
    kConnectButton = 7,
};

inline constexpr char kStillConnectedQuestion[] =
    "Still have some connections.\nAre you sure want to exit?";
inline constexpr char kCloseAllQuestion[] = "Close all connection!\nAre you sure?";
inline constexpr char kCloseChannelQuestion[] = "Close this channel!\nAre you sure?";
inline constexpr char kFilePlaying[] = "This file is playing.";
inline constexpr char kOverMaxChannel[] = "Over the maximum channel number!";
inline constexpr char kAviFilter[] = "FSV Save AVI File(*.AVI)|*.avi|All Files(*.*)|*.*||";
inline constexpr char kBmpFilter[] = "Windows Bitmap (*.bmp) |*.bmp||";

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(ViewerBackend& backend, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The skin's button dispatcher.
    void dispatchButton(int line, int index);
    // A menu command by its id.
    void runCommand(int id);
    // The look state of a button: 1 pressed, -1 normal, 0 disabled.
    void setButtonState(int line, int index, int state);
    int buttonState(int line, int index) const;

    // Draws the window from the skin of `style` at panel width `width`, looked up under
    // `roots` in order. Without a usable skin the plain controls stay (false).
    bool useSkin(const std::string& style, int width,
                 const std::vector<std::filesystem::path>& roots);
    ::fsv::ui::skin::SkinSurface* skin() const { return skin_; }
    // The main menu (every command), also popped up by the skin's menu button and F10.
    QMenu* mainMenu() const { return mainMenu_; }

    // The place KorSetAppPos.ini pins the window to; moving it elsewhere puts it back.
    void setPinnedPosition(std::optional<QPoint> position);

    // Whether the window may close now: asks when connections are open. Used by closeEvent.
    bool confirmExit();

    // A window the command `command` shows and hides (Channel List, Download List, Download
    // History, Normal for the event list); the command is checked while it is visible.
    void setListWindow(int command, QWidget* window);

    ViewerBackend& backend() { return backend_; }
    StatusWindow* statusWindow() const { return status_; }
    ChannelView* channelView() const { return channels_; }
    PlaybackPanel* playbackPanel() const { return playback_; }
    // The channel pop-up menu of the active channel: Disconnect, then Play with the two save
    // commands when it is paused, or Pause. False (menu untouched) without a channel.
    bool fillChannelMenu(QMenu& menu);
    // The position of the channel in the active panel (it may hold none).
    int currentChannel() const;
    // Brings the page of `channel` into view and makes its panel the active one.
    void showChannel(int channel);
    // Pages of channels: enough for the highest channel in use (at least one).
    int pageCount() const;

    // The timeline under the panels, shown and hidden by its command (Ctrl+T).
    TimelineView* timeline() const { return timeline_; }
    QAction* timelineAction() const { return timelineAction_; }
    // Fills the recorder rows: the recorder shown in the event list window. Empty: none.
    std::function<void(playback::TimelineModel&)> timelineRecorder;
    // A recorder's recording clicked on the timeline: "Download && Play" it.
    std::function<void(const EventRef&)> onTimelineRecording;
    // Reads the rows and the cursor again (a timer does it while the timeline is shown).
    void refreshTimeline();
    // "Save this moment..." while the local files play in step: one PNG of the panels on
    // show, each with its caption and its frame's date and time written under it.
    QAction* saveMomentAction() const { return saveMomentAction_; }
    // The picture it writes.
    QImage momentImage() const;

  Q_SIGNALS:
    // The user ended the program (Exit, the close button): the backend is shut down, and every
    // other window of the program is to close now.
    void exited();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    // MainWindow.cpp
    void buildToolbar();
    void buildMenus();
    QAction* addCommand(int id, const QString& text, const QKeySequence& shortcut);
    // MainWindowCommands.cpp
    void toolbarClicked(int index);
    void popupAt(QMenu* menu, int index);
    void refreshCommands();
    void openAviFiles();
    void setChannelsPerPage(int count);
    void showChannelPage(int page);
    // A list window a command shows (not toggles), raised and activated.
    void showListWindow(int command);
    // Which panels show a channel and their captions, after the channel table changed.
    void refreshPanels();
    void refreshPanel(int index);
    void showLayoutOnSkin();
    // MainWindowConnect.cpp
    void openConnectTo();
    void openAddressBook();
    void openSetup();
    void connectTo(const ConnectRequest& request);
    // The backend's signals this window follows, each with its handler below.
    void followBackend();
    void connectFinished();
    void frameReady(int panel);
    void playbackMoved(int panel);
    void refreshConnectionList();
    void closeAllConnections();
    // MainWindowSkin.cpp
    // The menu button (line 1) and the caption buttons (line 2) of the frameless window.
    void windowButton(int line, int index);
    void placeOnSkin();
    void showConnectionsOnSkin(int count, const QString& first);
    // MainWindowChannels.cpp
    void showChannelMenu(int panel, QPoint at);
    void saveAsBmp();
    void saveAsAvi();
    // The clip component reported its end: the clip button returns for a paused local file.
    void clipFinished();
    static void mergeCallback(int32_t value, int32_t state);
    void startClipComponent();
    void stopClipComponent();
    // MainWindowTimeline.cpp
    QWidget* buildTimeline(QWidget* parent);
    // MainWindowSync.cpp
    // A panel's frame date and time and its "No recording" mark, from its channel's status.
    void showPanelFrame(int panel);
    void buildSaveMoment();
    void saveMoment();
    // MainWindowFiles.cpp
    void saveConnectiveStatus();
    void loadConnectiveStatus();
    void loadResumeFile();

    ViewerBackend& backend_;
    StatusWindow* status_ = nullptr;
    QTreeWidget* connectionList_ = nullptr;
    ChannelView* channels_ = nullptr;
    PlaybackPanel* playback_ = nullptr;
    std::array<QToolButton*, 8> buttons_{};
    std::array<int, 8> buttonStates_{};
    std::map<int, QAction*> commands_;
    std::map<int, QPointer<QWidget>> listWindows_;
    QMenu* fileMenu_ = nullptr;     // button 2
    QMenu* windowsMenu_ = nullptr;  // button 3
    QMenu* modeMenu_ = nullptr;     // button 5
    QMenu* closeMenu_ = nullptr;    // button 6
    QMenu* mainMenu_ = nullptr;     // the skin's menu button (line 1)
    QWidget* content_ = nullptr;    // the channel view over the connection list
    QToolBar* toolbar_ = nullptr;
    ::fsv::ui::skin::SkinSurface* skin_ = nullptr;
    TimelineView* timeline_ = nullptr;
    QAction* timelineAction_ = nullptr;
    QAction* saveMomentAction_ = nullptr;
    QTimer* timelineTimer_ = nullptr;
    std::optional<QPoint> pinned_;
    bool exiting_ = false;
};

}  // namespace fsv::ui
