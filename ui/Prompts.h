#pragma once
// Every message box and file dialog of the windows goes through here, so that the texts, types
// and icons are the system's own and a test can answer them from a script instead of a modal
// window. Used on the UI thread only.

#include <QString>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/UserPort.h"

class QWidget;

namespace fsv::ui {

// Answers given instead of showing anything: boxes in order (then `defaultAnswer`), file
// dialogs from their own lists (then "cancelled").
struct PromptScript {
    struct Box {
        std::string text;
        unsigned type = 0;
    };
    std::deque<int> answers;
    int defaultAnswer = 1;  // IDOK; IDNO for a Yes/No question when nothing is scripted
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
    // A message box of a system type (mb::kYesNo | mb::kIconQuestion, ...); the answer as an
    // id (mb::kIdOk, mb::kIdYes, mb::kIdNo).
    static int box(QWidget* parent, const std::string& text, unsigned type);
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

    // A button of a box type (a QMessageBox::StandardButton) and the id it answers.
    struct BoxButton {
        int button;
        int id;
    };

  private:
    static int showBox(QWidget* parent, const std::string& text, unsigned type,
                       const std::vector<BoxButton>& buttons);
};

}  // namespace fsv::ui
