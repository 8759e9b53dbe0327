#pragma once
// The one way the core reaches the user. The desktop program implements it by queuing onto its
// UI thread; fsv and the tests implement it with scripted answers. Every call may come from any
// thread.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace fsv {

// Message box types and answers, with the values the rest of the program stores and compares.
namespace mb {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kOkCancel = 0x1;
inline constexpr unsigned kYesNoCancel = 0x3;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kRetryCancel = 0x5;
inline constexpr unsigned kIconStop = 0x10;  // also the error icon
inline constexpr unsigned kIconQuestion = 0x20;
inline constexpr unsigned kIconWarning = 0x30;
inline constexpr unsigned kIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
}  // namespace mb

// The panel's private messages, numbered as the panel has always numbered them.
enum class PanelMessage : unsigned {
    RedrawChannel = 1056,   // panel index / redraw flag
    RecorderClosed = 1058,  // the ServerSession whose recorder closed the connection
};

// Answers to "File already exist. Choose to do...".
enum class ExistingFileAnswer : int { SaveAs = 0, Overwrite = 1, Resume = 2, Abort = 3 };

class UserPort {
public:
    virtual ~UserPort() = default;

    // The deferred message box. Without `direct` the text is queued for the UI thread and the
    // result is 1 (queued) or mb::kIdNo when it was dropped (the program is exiting). With
    // `direct` the box is shown and its answer returned.
    virtual int messageBox(const std::string& text, unsigned type, bool direct = false) = 0;

    // A private panel message; the argument meanings are those of PanelMessage.
    virtual void post(PanelMessage message, intptr_t wParam, intptr_t lParam) = 0;

    // "File already exist. Choose to do..." for `path`; Resume is offered only when asked.
    virtual ExistingFileAnswer askExistingFile(const std::filesystem::path& path,
                                               bool offerResume) = 0;

    // A folder dialog starting at `start` with `text` as its caption; empty when cancelled.
    virtual std::filesystem::path chooseFolder(const std::filesystem::path& start,
                                               const std::string& text) = 0;

    // Save and open dialogs; empty when cancelled. `filter` and `defaultExtension` are the
    // system's own texts ("AVI File(*.AVI)||", "avi").
    virtual std::filesystem::path saveFileDialog(const std::filesystem::path& start,
                                                 const std::string& filter,
                                                 const std::string& defaultExtension) = 0;
    virtual std::filesystem::path openFileDialog(const std::filesystem::path& start,
                                                 const std::string& filter) = 0;
    // An open dialog with multiple selection; empty when cancelled. A port without one offers
    // its single-file dialog.
    virtual std::vector<std::filesystem::path> openFilesDialog(const std::filesystem::path& start,
                                                               const std::string& filter) {
        auto one = openFileDialog(start, filter);
        if (one.empty()) return {};
        return {one};
    }

    // The action dialog ("ToDo..."): 0 "Download && Play", 1 "Just Download", 2 "Just Play",
    // 3 "Download && Play (Period)" (offered only with `periodAllowed`, exactly one event
    // selected); -1 when cancelled. A port without the dialog cancels.
    virtual int askAction(bool /*periodAllowed*/) { return -1; }

    // The frame range dialog ("Select Download Period..."): `start` and `end` come back 1-based
    // within 1 ... frameCount, start <= end; false when cancelled. A port without the dialog
    // cancels.
    virtual bool askFrameRange(uint32_t /*frameCount*/, uint32_t& /*start*/, uint32_t& /*end*/) {
        return false;
    }
};

// A port that passes every call on to another. Wrappers derive from it and override only what
// they change, so that every question of the port, also one added later, reaches the user
// through them.
class ForwardingUserPort : public UserPort {
  public:
    explicit ForwardingUserPort(UserPort& outer) : outer_(outer) {}
    int messageBox(const std::string& text, unsigned type, bool direct = false) override {
        return outer_.messageBox(text, type, direct);
    }
    void post(PanelMessage message, intptr_t wParam, intptr_t lParam) override {
        outer_.post(message, wParam, lParam);
    }
    ExistingFileAnswer askExistingFile(const std::filesystem::path& path,
                                       bool offerResume) override {
        return outer_.askExistingFile(path, offerResume);
    }
    std::filesystem::path chooseFolder(const std::filesystem::path& start,
                                       const std::string& text) override {
        return outer_.chooseFolder(start, text);
    }
    std::filesystem::path saveFileDialog(const std::filesystem::path& start,
                                         const std::string& filter,
                                         const std::string& defaultExtension) override {
        return outer_.saveFileDialog(start, filter, defaultExtension);
    }
    std::filesystem::path openFileDialog(const std::filesystem::path& start,
                                         const std::string& filter) override {
        return outer_.openFileDialog(start, filter);
    }
    std::vector<std::filesystem::path> openFilesDialog(const std::filesystem::path& start,
                                                       const std::string& filter) override {
        return outer_.openFilesDialog(start, filter);
    }
    int askAction(bool periodAllowed) override { return outer_.askAction(periodAllowed); }
    bool askFrameRange(uint32_t frameCount, uint32_t& start, uint32_t& end) override {
        return outer_.askFrameRange(frameCount, start, end);
    }

  protected:
    UserPort& outer_;
};

// Passes everything on and keeps the first message text: why a connect failed.
class FirstMessagePort : public ForwardingUserPort {
  public:
    explicit FirstMessagePort(UserPort& outer) : ForwardingUserPort(outer) {}
    int messageBox(const std::string& text, unsigned type, bool direct = false) override {
        {
            std::lock_guard lock(mutex_);
            if (first_.empty()) first_ = text;
        }
        return outer_.messageBox(text, type, direct);
    }
    std::string first() const {
        std::lock_guard lock(mutex_);
        return first_;
    }

  private:
    mutable std::mutex mutex_;
    std::string first_;
};

}  // namespace fsv
