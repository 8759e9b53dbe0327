#pragma once
// A UserPort without a display, for fsv and the tests: it records everything it is told and
// answers questions from a script (fixed answers, or a function).

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/UserPort.h"

namespace fsv {

class ScriptedUserPort : public UserPort {
public:
    struct Box {
        std::string text;
        unsigned type;
        bool direct;
    };
    struct Post {
        PanelMessage message;
        intptr_t wParam, lParam;
    };

    // Answers for direct boxes, taken in order; when none is left, `defaultBoxAnswer`.
    std::deque<int> boxAnswers;
    int defaultBoxAnswer = mb::kIdNo;
    ExistingFileAnswer existingFileAnswer = ExistingFileAnswer::Abort;
    std::function<ExistingFileAnswer(const std::filesystem::path&, bool)> onExistingFile;
    std::function<void(const std::string&, unsigned)> onMessage;  // also called, e.g. to print
    std::function<void(const Post&)> onPost;
    std::filesystem::path folderAnswer, saveAnswer, openAnswer;
    std::vector<std::filesystem::path> openManyAnswer;
    int actionAnswer = -1;  // the action dialog's choice; -1 cancels
    // The frame range dialog: given the frame count, fills start and end; none cancels.
    std::function<bool(uint32_t, uint32_t&, uint32_t&)> onFrameRange;

    int messageBox(const std::string& text, unsigned type, bool direct) override {
        std::function<void(const std::string&, unsigned)> cb;
        int answer = 1;
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back({text, type, direct});
            cb = onMessage;
            if (direct) {
                answer = defaultBoxAnswer;
                if (!boxAnswers.empty()) {
                    answer = boxAnswers.front();
                    boxAnswers.pop_front();
                }
            }
        }
        if (cb) cb(text, type);
        return answer;
    }
    void post(PanelMessage message, intptr_t wParam, intptr_t lParam) override {
        std::function<void(const Post&)> cb;
        {
            std::lock_guard lock(mutex_);
            posts_.push_back({message, wParam, lParam});
            cb = onPost;
        }
        if (cb) cb({message, wParam, lParam});
    }
    ExistingFileAnswer askExistingFile(const std::filesystem::path& path,
                                       bool offerResume) override {
        std::lock_guard lock(mutex_);
        existingFileQuestions_.emplace_back(path, offerResume);
        if (onExistingFile) return onExistingFile(path, offerResume);
        if (existingFileAnswer == ExistingFileAnswer::Resume && !offerResume)
            return ExistingFileAnswer::Abort;
        return existingFileAnswer;
    }
    std::filesystem::path chooseFolder(const std::filesystem::path&, const std::string&) override {
        std::lock_guard lock(mutex_);
        return folderAnswer;
    }
    std::filesystem::path saveFileDialog(const std::filesystem::path&, const std::string&,
                                         const std::string&) override {
        std::lock_guard lock(mutex_);
        return saveAnswer;
    }
    std::filesystem::path openFileDialog(const std::filesystem::path&,
                                         const std::string&) override {
        std::lock_guard lock(mutex_);
        return openAnswer;
    }
    std::vector<std::filesystem::path> openFilesDialog(const std::filesystem::path&,
                                                       const std::string&) override {
        std::lock_guard lock(mutex_);
        return openManyAnswer;
    }

    int askAction(bool periodAllowed) override {
        std::lock_guard lock(mutex_);
        actionQuestions_.push_back(periodAllowed);
        return actionAnswer;
    }
    bool askFrameRange(uint32_t frameCount, uint32_t& start, uint32_t& end) override {
        std::function<bool(uint32_t, uint32_t&, uint32_t&)> answer;
        {
            std::lock_guard lock(mutex_);
            frameCounts_.push_back(frameCount);
            answer = onFrameRange;
        }
        return answer && answer(frameCount, start, end);
    }
    // Each action question's periodAllowed, and each frame range question's frame count.
    std::vector<bool> actionQuestions() const {
        std::lock_guard lock(mutex_);
        return actionQuestions_;
    }
    std::vector<uint32_t> frameCounts() const {
        std::lock_guard lock(mutex_);
        return frameCounts_;
    }

    std::vector<Box> boxes() const {
        std::lock_guard lock(mutex_);
        return boxes_;
    }
    std::vector<Post> posts() const {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    std::vector<std::pair<std::filesystem::path, bool>> existingFileQuestions() const {
        std::lock_guard lock(mutex_);
        return existingFileQuestions_;
    }
    bool saw(const std::string& text) const {
        std::lock_guard lock(mutex_);
        for (auto& b : boxes_)
            if (b.text == text) return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    std::vector<Post> posts_;
    std::vector<std::pair<std::filesystem::path, bool>> existingFileQuestions_;
    std::vector<bool> actionQuestions_;
    std::vector<uint32_t> frameCounts_;
};

}  // namespace fsv
