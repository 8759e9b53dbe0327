#pragma once
// Every message box and file dialog of the windows goes through here, so that the texts, types
// and icons are the system's own and a test can answer them from a script instead of a modal
// window. Used on the UI thread only.

#include <QString>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/BoxStyle.h"
#include "platform/UserPort.h"

class QWidget;

namespace fsv::ui {

using client::BoxAnswer;
using client::BoxButtons;
using client::BoxIcon;
using client::BoxStyle;

// Answers given instead of showing anything: boxes in order (then `defaultAnswer`), file
// dialogs from their own lists (then "cancelled").
struct PromptScript {
    struct Box {
        std::string text;
        BoxStyle style;
    };
    std::deque<BoxAnswer> answers;
    // Unset: OK where the box has it, else the button that declines (No, Cancel).
    std::optional<BoxAnswer> defaultAnswer;
    std::deque<std::filesystem::path> saveFiles, openFiles, folders;
    std::deque<ExistingFileAnswer> existingFiles;  // then Abort
    std::vector<std::filesystem::path> dialogStarts;  // where each file dialog started
    std::vector<Box> shown;  // every box, in order
    std::function<void(const Box&)> onBox;
    // Boxes are noted and then shown for real (to be answered by clicking their buttons); the
    // file dialogs stay scripted.
    bool realBoxes = false;

    bool saw(const std::string& text) const {
        for (auto& b : shown)
            if (b.text == text) return true;
        return false;
    }
};

class Prompts {
  public:
    // A message box with its buttons and icon; the button pressed (Escape and the close button
    // give the last one).
    static BoxAnswer box(QWidget* parent, const std::string& text, BoxStyle style);
    // Save and open dialogs with the system's filter texts ("FSV Save File(*.SAV)|*.sav|..."),
    // starting in the folder (or at the file) `start`; empty: where the dialog last was.
    static std::filesystem::path saveFile(QWidget* parent, const std::string& filter,
                                          const std::string& defaultExtension,
                                          const std::filesystem::path& start = {});
    static std::filesystem::path openFile(QWidget* parent, const std::string& filter,
                                          const std::filesystem::path& start = {});
    static std::vector<std::filesystem::path> openFiles(QWidget* parent, const std::string& filter,
                                                        const std::filesystem::path& start = {});
    // "File already exist. Choose to do..." with Save As, Overwrite, Resume (when offered) and
    // Abort.
    static ExistingFileAnswer existingFile(QWidget* parent, const std::filesystem::path& path,
                                           bool offerResume);
    // The folder dialog with its caption text ("Total need %s"), starting in `start`.
    static std::filesystem::path chooseFolder(QWidget* parent, const std::string& text,
                                              const std::filesystem::path& start);

    // Tests: answer everything from `script` (nullptr shows real windows again).
    static void setScript(PromptScript* script);
    static PromptScript* script();

    // "FSV Save File(*.SAV)|*.sav|All Files(*.*)|*.*||" as a Qt name filter list.
    static QString qtFilter(const std::string& filter);

    // A button of a box (a QMessageBox::StandardButton) and the answer it gives.
    struct BoxButton {
        int button;
        BoxAnswer answer;
    };

  private:
    static BoxAnswer showBox(QWidget* parent, const std::string& text, BoxIcon icon,
                             const std::vector<BoxButton>& buttons);
};

}  // namespace fsv::ui
