#pragma once
// The questions asked when work starts on a selection: what to do with it (the action), the
// frame range of one recording, and what to do with a file that is already there. They only
// ask; the controller's start-work operation and the streams do the work.

#include <QDialog>
#include <optional>

#include "platform/UserPort.h"
#include "recordings/download/Work.h"

class QRadioButton;
class QLineEdit;
class QPushButton;

namespace fsv::ui {

inline constexpr const char* kExistingFileText = "File already exist. Choose to do...";

// "ToDo...": "Download && Play" (checked at start), "Download && Play (Period)" (only for one
// event), "Just Play", "Just Download".
class ActionDialog : public QDialog {
    Q_OBJECT
  public:
    ActionDialog(int selectedEvents, QWidget* parent = nullptr);
    download::Action action() const;
    QRadioButton* button(download::Action a) const;

    // The action for a selection: a selection with an event of an audio channel takes "Just
    // Download" without asking; nullopt when the user cancels or nothing is selected.
    static std::optional<download::Action> ask(QWidget* parent, int selectedEvents, bool hasAudio);

  private:
    QRadioButton* buttons_[4];
};

// "Select Download Period...": Start Frame and End Frame, 1 … frame count, 4 digits each; End
// starts at the frame count. An End before Start is refused with a message and the dialog stays.
class FrameRangeDialog : public QDialog {
    Q_OBJECT
  public:
    FrameRangeDialog(uint32_t frameCount, QWidget* parent = nullptr);
    // The chosen range, 0-based (Start − 1, End − 1); valid after Accepted.
    download::FrameRange range() const { return range_; }
    QLineEdit* startEdit() const { return start_; }
    QLineEdit* endEdit() const { return end_; }
    void accept() override;

  private:
    uint32_t frameCount_;
    QLineEdit* start_;
    QLineEdit* end_;
    download::FrameRange range_;
};

// "File already exist. Choose to do...": the path, read-only, over "&Save As", "&Overwrite",
// "&Resume" (only when resuming is offered) and "&Abort". Closing the window aborts.
class ExistingFileDialog : public QDialog {
    Q_OBJECT
  public:
    ExistingFileDialog(const QString& path, bool offerResume, QWidget* parent = nullptr);
    ExistingFileAnswer answer() const { return answer_; }
    QPushButton* button(ExistingFileAnswer a) const;
    // Shows the dialog and waits for the answer (on the UI thread).
    static ExistingFileAnswer ask(QWidget* parent, const QString& path, bool offerResume);

  private:
    ExistingFileAnswer answer_ = ExistingFileAnswer::Abort;
    QPushButton* buttons_[4];
};

}  // namespace fsv::ui
