#include "ui/playback/PlaybackPanel.h"

#include <QAbstractSlider>
#include <QAction>
#include <QDate>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenu>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

#include "ui/ViewerBackend.h"
#include "ui/panels/Snapshot.h"
#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinPanel.h"
#include "ui/skin/SkinSlider.h"
#include "ui/skin/SkinSurface.h"

namespace fsv::ui {

namespace {
const char* const kButtonNames[] = {
    "Play",         "Pause",      "Previous Frame", "Next Frame (hold for fast forward)",
    "First Frame",  "Last Frame", "Slower",         "Faster",
    "Close Channel"};
const char* const kTextNames[] = {"Channel", "Date", "Time", "Speed"};
}  // namespace

QString channelNumberText(int number) { return QString::fromStdString(format("#%2d", number)); }

QString frameDateText(const SystemTime& t, const QLocale& locale) {
    const QDate date(t.year, t.month, t.day);
    QString text = date.isValid() ? locale.toString(date, QLocale::ShortFormat) : QString();
    if (text.isEmpty())
        text = locale.toString(QDate(2000, 2, 2), QLocale::ShortFormat).replace(QChar('2'), '0');
    return text;
}

QString speedText(int value, bool slow) {
    if (value == 1) return QStringLiteral("x 1");
    return QString::fromStdString(slow ? format("x1/%d", value) : format("x%2d", value));
}

PanelLooks looksFor(const std::optional<playback::PlayStatus>& status) {
    PanelLooks l;  // no channel: everything off
    if (!status) return l;
    using B = PlaybackPanel::Button;
    auto& p = l.play;
    if (status->atEnd) {
        // Stopped at the end: paused, back and first on, forward, last and the speeds off.
        p = {-1, 3, -1, 0, -1, 0, 0, 0, -1};
        l.savePicture = -1;
    } else if (status->paused) {
        p = {-1, 3, -1, -1, -1, -1, -1, -1, -1};
        if (status->position == 0) p[B::kBack] = p[B::kFirst] = 0;  // at the start
        l.savePicture = -1;
    } else {
        // Playing: back and first wait for a pause; forward, last and the speeds stay.
        p = {3, -1, 0, -1, 0, -1, -1, -1, -1};
    }
    // A clip is made from a paused local file only.
    if ((status->paused || status->atEnd) && status->local) l.saveClip = -1;
    l.slider = status->frameCount > 0;
    return l;
}

PlaybackPanel::PlaybackPanel(ViewerBackend& backend, QObject* parent)
    : QObject(parent), backend_(backend) {
    sliderTimer_.setObjectName(QStringLiteral("sliderTimer314"));
    sliderTimer_.setInterval(kSliderTick);
    connect(&sliderTimer_, &QTimer::timeout, this, [this] { seek(sliderAt_); });
    holdTimer_.setObjectName(QStringLiteral("holdTimer425"));
    holdTimer_.setInterval(kHoldDelay);
    holdTimer_.setSingleShot(true);
    connect(&holdTimer_, &QTimer::timeout, this, &PlaybackPanel::holdElapsed);
    syncAction_ = new QAction(QStringLiteral("Sync"), this);
    syncAction_->setObjectName(QStringLiteral("syncAction"));
    syncAction_->setCheckable(true);
    syncAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Y")));
    syncAction_->setToolTip(QStringLiteral("Sync: play every local file in step (Ctrl+Y)"));
    syncAction_->setEnabled(false);
    connect(syncAction_, &QAction::triggered, this, &PlaybackPanel::setSync);
    reset();
}

void PlaybackPanel::setSync(bool on) {
    if (on != backend_.synced()) {
        if (!on || syncAction_->isEnabled()) backend_.setSync(on, position_);
    }
    syncAction_->setChecked(backend_.synced());
    showSync();
    refresh();
}

QWidget* PlaybackPanel::makePlainBar(QWidget* parent,
                                     std::function<void(int line, int index)> dispatch) {
    plainBar_ = new QWidget(parent);
    plainBar_->setObjectName(QStringLiteral("playbackBar"));
    auto* slider = new QSlider(Qt::Horizontal, plainBar_);
    auto* row = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        auto* t = new QToolButton(plainBar_);
        t->setObjectName(QStringLiteral("playbackText%1").arg(i));
        t->setAccessibleName(QString::fromLatin1(kTextNames[i]));
        t->setAutoRaise(true);
        t->setFocusPolicy(i == kSpeedText ? Qt::TabFocus : Qt::NoFocus);
        connect(t, &QToolButton::clicked, this, [this, i] { textClicked(i); });
        plainTexts_[static_cast<size_t>(i)] = t;
        row->addWidget(t);
    }
    row->addStretch(1);
    QStyle* style = plainBar_->style();
    auto addButton = [&](int line, int index, const QString& name, const QIcon& icon,
                         const QString& text) {
        auto* b = new QToolButton(plainBar_);
        b->setObjectName(QStringLiteral("plainButton%1_%2").arg(line).arg(index));
        b->setAccessibleName(name);
        b->setToolTip(name);
        if (icon.isNull())
            b->setText(text);
        else
            b->setIcon(icon);
        b->setCheckable(true);
        connect(b, &QToolButton::clicked, this, [this, b, dispatch, line, index] {
            dispatch(line, index);
            // A click toggles the button; its look says what it shows (a declined close).
            const int l = look(line, index);
            b->setChecked(l == 1 || l == 3);
        });
        plainButtons_[line * 16 + index] = b;
        row->addWidget(b);
        return b;
    };
    const QStyle::StandardPixmap icons[] = {
        QStyle::SP_MediaPlay,        QStyle::SP_MediaPause,        QStyle::SP_MediaSeekBackward,
        QStyle::SP_MediaSeekForward, QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSkipForward};
    for (int i = 0; i < 9; ++i) {
        const QString name = QString::fromLatin1(kButtonNames[i]);
        const QIcon icon = i < 6         ? style->standardIcon(icons[i])
                           : i == kClose ? style->standardIcon(QStyle::SP_DialogCloseButton)
                                         : QIcon();
        auto* b = addButton(kPlayLine, i, name, icon,
                            i == kSlower ? QStringLiteral("-") : QStringLiteral("+"));
        if (i == kForward) connectHold(b);
    }
    addButton(kSaveLine, kSaveClipButton, QStringLiteral("Save as AVI File"), QIcon(),
              QStringLiteral("AVI"));
    addButton(kSaveLine, kSavePictureButton, QStringLiteral("Save As BMP File"), QIcon(),
              QStringLiteral("BMP"));
    auto* sync = new QToolButton(plainBar_);
    sync->setObjectName(QStringLiteral("syncButton"));
    sync->setDefaultAction(syncAction_);
    sync->setAccessibleName(QStringLiteral("Sync"));
    row->addWidget(sync);
    auto* layout = new QVBoxLayout(plainBar_);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(slider);
    layout->addLayout(row);
    slider_ = slider;
    connectSlider();
    // The bar shows what the panel holds now.
    for (size_t i = 0; i < texts_.size(); ++i) plainTexts_[i]->setText(texts_[i]);
    for (auto& [key, b] : plainButtons_) {
        const int l = look(key / 16, key % 16);
        b->setEnabled(l != 0);
        b->setChecked(l == 1 || l == 3);
    }
    slider_->setEnabled(sliderEnabled_);
    return plainBar_;
}

void PlaybackPanel::connectSlider() {
    slider_->setObjectName(QStringLiteral("positionSlider"));
    slider_->setAccessibleName(QStringLiteral("Position"));
    connect(slider_, &QAbstractSlider::valueChanged, this, &PlaybackPanel::sliderValue);
    connect(slider_, &QAbstractSlider::sliderPressed, this, &PlaybackPanel::sliderPressed);
    connect(slider_, &QAbstractSlider::sliderReleased, this, &PlaybackPanel::sliderReleased);
}

void PlaybackPanel::connectHold(QAbstractButton* forward) {
    connect(forward, &QAbstractButton::pressed, this, &PlaybackPanel::holdPressed);
    connect(forward, &QAbstractButton::released, this, &PlaybackPanel::holdReleased);
}

void PlaybackPanel::attachSkin(::fsv::ui::skin::SkinSurface* skin) {
    skin_ = skin;
    if (!skin_) return;
    if (plainBar_) {
        plainBar_->hide();
        if (slider_) {
            slider_->disconnect(this);
            slider_->setObjectName(QStringLiteral("plainPositionSlider"));
        }
        slider_ = nullptr;
    }
    for (int i = 0; i < 9; ++i)
        if (auto* b = skin_->button(kPlayLine, i)) {
            b->setObjectName(QStringLiteral("playButton%1").arg(i));
            b->setAccessibleName(QString::fromLatin1(kButtonNames[i]));
        }
    if (auto* b = skin_->button(kSaveLine, kSaveClipButton)) {
        b->setObjectName(QStringLiteral("saveClipButton"));
        b->setAccessibleName(QStringLiteral("Save as AVI File"));
    }
    if (auto* b = skin_->button(kSaveLine, kSavePictureButton)) {
        b->setObjectName(QStringLiteral("savePictureButton"));
        b->setAccessibleName(QStringLiteral("Save As BMP File"));
    }
    if (auto* b = skin_->button(kSaveLine, kSyncButton)) {
        b->setObjectName(QStringLiteral("syncSkinButton"));
        b->setAccessibleName(QStringLiteral("Sync"));
    }
    if (auto* forward = skin_->button(kPlayLine, kForward)) connectHold(forward);
    const auto& controls = skin_->controls();
    if (auto it = controls.sliders.find(0); it != controls.sliders.end() && !it->second.empty()) {
        slider_ = it->second.front();
        connectSlider();
    }
    if (auto it = controls.panels.find(0);
        it != controls.panels.end() && it->second->textCount() >= 4) {
        info_ = it->second;
        info_->setObjectName(QStringLiteral("playbackInfo"));
        info_->setAccessibleName(QStringLiteral("Playback Status"));
        connect(info_, &::fsv::ui::skin::SkinPanel::textClicked, this,
                [this](int item, QPoint) { textClicked(item); });
    }
    // The skin shows what the panel holds now.
    const auto texts = texts_;
    texts_ = {};
    for (int i = 0; i < 4; ++i) setText(i, texts[static_cast<size_t>(i)]);
    const auto looks = looks_;
    for (const auto& [key, look] : looks) skin_->setButtonLook(key / 16, key % 16, look);
    showSync();
    if (slider_) slider_->setEnabled(sliderEnabled_);
}

void PlaybackPanel::addShortcuts(QWidget* window) {
    static const struct {
        Button button;
        const char* keys;
    } kKeys[] = {{kBack, "Ctrl+Left"}, {kForward, "Ctrl+Right"}, {kFirst, "Ctrl+Home"},
                 {kLast, "Ctrl+End"},  {kSlower, "Ctrl+Down"},   {kFaster, "Ctrl+Up"}};
    for (const auto& k : kKeys) {
        auto* a = new QAction(window);
        a->setObjectName(QStringLiteral("playbackShortcut%1").arg(int(k.button)));
        a->setShortcut(QKeySequence(QString::fromLatin1(k.keys)));
        const Button b = k.button;
        connect(a, &QAction::triggered, this, [this, b] {
            if (look(kPlayLine, b) != 0) click(b);
        });
        window->addAction(a);
    }
    window->addAction(syncAction_);
}

void PlaybackPanel::setChannel(int position) {
    if (position != position_) {
        holdReleased();
        if (dragged_) {
            sliderTimer_.stop();
            dragged_ = false;
        }
    }
    position_ = position;
    refresh();
}

void PlaybackPanel::refresh() {
    const auto status = position_ >= 0 ? backend_.channelStatus(position_) : std::nullopt;
    syncAction_->setChecked(backend_.synced());
    syncAction_->setEnabled(backend_.synced() || (status && status->local));
    showSync();
    if (!status) return reset();
    showStatus(*status);
    showLooks(looksFor(status));
}

void PlaybackPanel::reset() {
    setText(kSpeedText, speedText(1, false));
    setText(kDateText, frameDateText(SystemTime{}));
    setText(kTimeText, frameTimeText(SystemTime{}));
    setText(kChannelText, channelNumberText(0));
    factor_ = 1;
    sliderEnabled_ = false;
    if (slider_) {
        settingSlider_ = true;
        slider_->setValue(0);
        slider_->setEnabled(false);
        settingSlider_ = false;
    }
    showLooks(PanelLooks{});
}

void PlaybackPanel::showStatus(const playback::PlayStatus& s) {
    setText(kChannelText, channelNumberText(position_ + 1));
    setText(kDateText, frameDateText(s.time));
    setText(kTimeText, frameTimeText(s.time));
    setText(kSpeedText, speedText(s.speed, s.slow));
    if (!s.slow) factor_ = s.speed;
    if (slider_ && !dragged_) {
        settingSlider_ = true;
        slider_->setRange(0, std::max<int>(static_cast<int>(s.frameCount) - 1, 0));
        slider_->setValue(static_cast<int>(s.position));
        settingSlider_ = false;
    }
}

void PlaybackPanel::showLooks(const PanelLooks& l) {
    for (int i = 0; i < 9; ++i) setLook(kPlayLine, i, l.play[static_cast<size_t>(i)]);
    setLook(kSaveLine, kSaveClipButton, l.saveClip);
    setLook(kSaveLine, kSavePictureButton, l.savePicture);
    sliderEnabled_ = l.slider;
    if (slider_) slider_->setEnabled(l.slider);
}

void PlaybackPanel::showSync() {
    if (!skin_ || !skin_->button(kSaveLine, kSyncButton)) return;
    const int look = !syncAction_->isEnabled()  ? ::fsv::ui::skin::LookDisabled
                     : syncAction_->isChecked() ? ::fsv::ui::skin::LookPlay
                                                : ::fsv::ui::skin::LookNormal;
    setLook(kSaveLine, kSyncButton, look);
}

void PlaybackPanel::setText(int item, const QString& text) {
    auto& shown = texts_.at(static_cast<size_t>(item));
    if (shown == text) return;  // only a changed item is redrawn
    shown = text;
    if (!skin_ && plainTexts_[static_cast<size_t>(item)])
        plainTexts_[static_cast<size_t>(item)]->setText(text);
    if (!info_) return;
    info_->setText(item, text);
    info_->setAccessibleDescription(texts_[kChannelText] + QLatin1Char(' ') + dateTimeText() +
                                    QLatin1Char(' ') + texts_[kSpeedText]);
}

QString PlaybackPanel::dateTimeText() const {
    return texts_[kDateText] + QStringLiteral("  ") + texts_[kTimeText];
}

int PlaybackPanel::look(int line, int index) const {
    auto it = looks_.find(line * 16 + index);
    return it == looks_.end() ? 0 : it->second;
}

void PlaybackPanel::setLook(int line, int index, int look) {
    // The clip button stays as it is while the clip component still works.
    if (line == kSaveLine && index == kSaveClipButton && look == -1 && clipBusy && clipBusy())
        return;
    looks_[line * 16 + index] = look;
    if (skin_) {
        skin_->setButtonLook(line, index, look);
    } else if (auto it = plainButtons_.find(line * 16 + index); it != plainButtons_.end()) {
        it->second->setEnabled(look != 0);
        it->second->setChecked(look == 1 || look == 3);
    }
}

void PlaybackPanel::click(int index) {
    using playback::PlayCommand;
    const auto status = position_ >= 0 ? backend_.channelStatus(position_) : std::nullopt;
    if (!status) return;
    const bool running = !status->paused && !status->atEnd;
    PlayCommand c;
    switch (index) {
        case kPlay:
            c = running ? PlayCommand::Pause : PlayCommand::Play;
            break;
        case kPause:
            c = running ? PlayCommand::Pause : PlayCommand::Play;
            break;
        case kBack:
            c = PlayCommand::StepBack;
            break;
        case kForward:
            c = PlayCommand::StepForward;
            break;
        case kFirst:
            c = PlayCommand::First;
            break;
        case kLast:
            c = PlayCommand::Last;
            break;
        case kSlower:
            c = PlayCommand::Slower;
            break;
        case kFaster:
            c = PlayCommand::Faster;
            break;
        default:
            return;
    }
    backend_.channelCommand(position_, c);
    refresh();
}

void PlaybackPanel::fillSpeedMenu(QMenu& menu) const {
    for (int k = 1; k <= 5; ++k) {
        QAction* a = menu.addAction(QString::fromStdString(format("x%2d", k)));
        a->setObjectName(QStringLiteral("speed%1").arg(k));
        a->setData(k);
        a->setCheckable(true);
        a->setChecked(k == factor_);
        a->setEnabled(k != factor_);
    }
}

void PlaybackPanel::chooseSpeed(int factor) {
    if (factor < 1 || factor > 5 || !backend_.setChannelSpeed(position_, factor)) return;
    factor_ = factor;
    setText(kSpeedText, speedText(factor, false));
    refresh();
}

void PlaybackPanel::textClicked(int item) {
    if (item != kSpeedText) return;
    const auto status = position_ >= 0 ? backend_.channelStatus(position_) : std::nullopt;
    if (!status || status->local) return;  // the speed menu is a stream's
    // At the speed item's top left corner.
    QPoint at;
    if (skin_ && info_)
        at = info_->mapToGlobal(info_->text(item).rect.topLeft());
    else if (!skin_ && plainTexts_[kSpeedText])
        at = plainTexts_[kSpeedText]->mapToGlobal(QPoint(0, 0));
    else
        return;
    QMenu menu;
    menu.setObjectName(QStringLiteral("speedMenu"));
    fillSpeedMenu(menu);
    if (QAction* chosen = menu.exec(at)) chooseSpeed(chosen->data().toInt());
}

// ---- the slider: at once while not dragged, every tick of timer 314 while it is ----

void PlaybackPanel::sliderValue(int value) {
    if (settingSlider_) return;
    sliderAt_ = value;
    if (!dragged_) seek(value);
}

void PlaybackPanel::sliderPressed() {
    dragged_ = true;
    sliderAt_ = slider_->sliderPosition();
    sliderTimer_.start();
}

void PlaybackPanel::sliderReleased() {
    sliderTimer_.stop();
    dragged_ = false;
    sliderAt_ = slider_->sliderPosition();
    seek(sliderAt_);
}

void PlaybackPanel::seek(int value) {
    if (position_ >= 0 && value >= 0) backend_.goToFrame(position_, static_cast<uint32_t>(value));
}

// ---- holding one-frame-forward: after timer 425 the channel runs without pacing ----

void PlaybackPanel::holdPressed() {
    holding_ = true;
    holdTimer_.start();
}

void PlaybackPanel::holdElapsed() {
    if (holding_ && position_ >= 0) noPacing_ = backend_.setChannelNoPacing(position_, true);
}

void PlaybackPanel::holdReleased() {
    holding_ = false;
    holdTimer_.stop();
    if (noPacing_) backend_.setChannelNoPacing(position_, false);
    noPacing_ = false;
}

}  // namespace fsv::ui
