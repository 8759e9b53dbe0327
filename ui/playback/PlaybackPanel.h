#pragma once
// The playback control panel: the nine playback buttons of skin line 3, the two save buttons of
// line 4, the position slider and the text panel with the channel, date, time and speed of the
// channel in the active display panel. It lives on the UI thread and steers the channel only
// through the backend's channel calls, so a local file and a stream behave the same. A player
// thread never touches it: what changes there (frames shown, the end reached, a speed step)
// arrives as a PlayPosition notice, and the panel reads the channel's status again.

#include <QLocale>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <optional>

#include "platform/Shared.h"
#include "recordings/playback/ChannelTable.h"

class QAbstractButton;
class QAction;
class QAbstractSlider;
class QMenu;
class QWidget;

namespace fsv::ui::skin {
class SkinPanel;
class SkinSurface;
}  // namespace fsv::ui::skin

namespace fsv::ui {

class ViewerBackend;

// The texts of the panel.
QString channelNumberText(int number);  // "#%2d"
// The frame's date in the locale's short format; for a date the locale cannot write (an
// all-zero time) the short date of 2 February 2000 with every "2" made "0".
QString frameDateText(const SystemTime& time, const QLocale& locale = QLocale());
// "x 1" at normal speed, "x%2d" with a factor, "x1/%d" with a divisor.
QString speedText(int value, bool slow);

// The looks of the buttons for a channel's status (nullopt: no channel): line 3 by index, the
// save buttons of line 4 (2: clip, 3: picture) and whether the slider takes the mouse.
struct PanelLooks {
    std::array<int, 9> play{};
    int saveClip = 0;
    int savePicture = 0;
    bool slider = false;
    bool operator==(const PanelLooks&) const = default;
};
PanelLooks looksFor(const std::optional<playback::PlayStatus>& status);

class PlaybackPanel : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPlayLine = 3;
    static constexpr int kSaveLine = 4;
    static constexpr int kSaveClipButton = 2;
    static constexpr int kSavePictureButton = 3;
    static constexpr int kSyncButton = 4;  // where the skin has it
    enum Button : int {
        kPlay = 0,
        kPause,
        kBack,
        kForward,
        kFirst,
        kLast,
        kSlower,
        kFaster,
        kClose,
    };
    enum Text : int { kChannelText = 0, kDateText, kTimeText, kSpeedText };
    static constexpr int kSliderTick = 500;  // timer 314: seeks while the slider is dragged
    static constexpr int kHoldDelay = 1500;  // timer 425: holding one-frame-forward

    explicit PlaybackPanel(ViewerBackend& backend, QObject* parent = nullptr);

    // The plain window's strip of the same controls: the position slider, the four texts and
    // the playback and save buttons, whose clicks go to `dispatch` as (line, index) like the
    // skin's. The panel shows itself there until a skin is attached.
    QWidget* makePlainBar(QWidget* parent, std::function<void(int line, int index)> dispatch);
    // The skin's buttons, slider and text panel take over from the plain strip (hidden).
    void attachSkin(::fsv::ui::skin::SkinSurface* skin);
    // The keyboard: one action per playback button on `window`.
    void addShortcuts(QWidget* window);

    // The channel position of the active panel (it may hold none); shows it at once.
    void setChannel(int position);
    int channel() const { return position_; }
    // Reads the channel's status and shows it: texts, slider, looks.
    void refresh();

    // A click on line 3 button 0 ... 7 (8, close, asks first: the window's Disconnect).
    void click(int index);
    // The speed menu's choice k (1 ... 5) on a stream.
    void chooseSpeed(int factor);
    // The speed menu: "x 1" ... "x 5", the current factor checked and disabled.
    void fillSpeedMenu(QMenu& menu) const;
    int speedFactor() const { return factor_; }

    QString text(int item) const { return texts_.at(static_cast<size_t>(item)); }
    // The date and time on show, "date  time", as a snapshot writes them.
    QString dateTimeText() const;
    // The look a button was given last (0 before any).
    int look(int line, int index) const;
    // Sets a button's look (the skin's too); a clip look of -1 is not given while
    // `clipBusy` says the clip component has unfinished work.
    void setLook(int line, int index, int look);
    bool holding() const { return holding_; }

    // The "Sync" toggle: every local file channel plays in step with the active one. Checked
    // while they do; enabled while the active channel is a local file (or they play in step).
    // A skin's sync button (line 4, kSyncButton) shows it: disabled, normal, or its "Play"
    // picture while on; its click triggers the action.
    QAction* syncAction() const { return syncAction_; }
    void setSync(bool on);

    // Whether the clip component is busy (KtMerge_IsNotEnd); empty: never.
    std::function<bool()> clipBusy;

  private:
    void reset();
    void showStatus(const playback::PlayStatus& s);
    void setText(int item, const QString& text);
    void showLooks(const PanelLooks& looks);
    void showSync();
    void sliderValue(int value);
    void sliderPressed();
    void sliderReleased();
    void seek(int value);
    void holdPressed();
    void holdReleased();
    void holdElapsed();
    void textClicked(int item);
    void connectSlider();
    void connectHold(QAbstractButton* forward);

    ViewerBackend& backend_;
    ::fsv::ui::skin::SkinSurface* skin_ = nullptr;
    ::fsv::ui::skin::SkinPanel* info_ = nullptr;
    QWidget* plainBar_ = nullptr;
    std::map<int, QAbstractButton*> plainButtons_;  // line * 16 + index
    std::array<QAbstractButton*, 4> plainTexts_{};
    QAbstractSlider* slider_ = nullptr;
    int position_ = -1;
    std::array<QString, 4> texts_;
    std::map<int, int> looks_;  // line * 16 + index
    int factor_ = 1;            // the last fast factor shown: the speed menu ticks it
    bool sliderEnabled_ = false;
    bool settingSlider_ = false;  // the panel moves the slider, not the user
    bool dragged_ = false;
    int sliderAt_ = 0;
    bool holding_ = false;
    bool noPacing_ = false;
    QAction* syncAction_ = nullptr;
    QTimer sliderTimer_;  // 314
    QTimer holdTimer_;    // 425
};

}  // namespace fsv::ui
