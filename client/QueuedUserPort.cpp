#include "client/QueuedUserPort.h"

#include <algorithm>

namespace fsv::client {

QueuedUserPort::QueuedUserPort(NotificationQueue& queue, platform::Event& exitEvent)
    : queue_(queue), exit_(exitEvent) {}

Answer QueuedUserPort::ask(Question q) {
    if (exiting()) return {};
    if (auto here = answerAtOnce(q)) return std::move(*here);
    auto p = std::make_shared<Pending>();
    {
        std::lock_guard lock(mutex_);
        p->id = nextId_++;
        pending_.push_back(p);
    }
    q.id = p->id;
    queue_.push(std::move(q));
    const int which = platform::waitAny({&exit_, &p->done});
    std::lock_guard lock(mutex_);
    pending_.erase(std::find(pending_.begin(), pending_.end(), p));
    // The answer counts only when it came before the exit event.
    return which == 1 ? p->answer : Answer{};
}

void QueuedUserPort::answer(uint64_t id, Answer answer) {
    std::lock_guard lock(mutex_);
    for (auto& p : pending_)
        if (p->id == id) {
            p->answer = std::move(answer);
            p->done.set();
            return;
        }
}

bool QueuedUserPort::waiting(uint64_t id) const {
    std::lock_guard lock(mutex_);
    return std::any_of(pending_.begin(), pending_.end(), [&](auto& p) { return p->id == id; });
}

int QueuedUserPort::messageBox(const std::string& text, unsigned type, bool direct) {
    if (direct) {
        Question q;
        q.kind = Question::Kind::Box;
        q.text = text;
        q.style = boxStyle(type);
        return answerId(ask(std::move(q)).box);
    }
    if (exiting()) return mb::kIdNo;
    queue_.push(MessageBoxNote{text, boxStyle(type)});
    return 1;
}

void QueuedUserPort::post(PanelMessage message, intptr_t wParam, intptr_t) {
    // The only panel message a front end acts on; the others are the core's own.
    if (message != PanelMessage::RedrawChannel || exiting()) return;
    queue_.push(PanelsChanged{static_cast<PanelId>(wParam)});
}

ExistingFileAnswer QueuedUserPort::askExistingFile(const std::filesystem::path& path,
                                                   bool offerResume) {
    Question q;
    q.kind = Question::Kind::ExistingFile;
    q.path = path;
    q.offerResume = offerResume;
    const auto a = ask(std::move(q)).existingFile;
    // Resume is an answer only where it was offered.
    return a == ExistingFileAnswer::Resume && !offerResume ? ExistingFileAnswer::Abort : a;
}

std::filesystem::path QueuedUserPort::onePath(Question q) {
    auto a = ask(std::move(q));
    return a.paths.empty() ? std::filesystem::path{} : a.paths.front();
}

std::filesystem::path QueuedUserPort::chooseFolder(const std::filesystem::path& start,
                                                   const std::string& text) {
    Question q;
    q.kind = Question::Kind::Folder;
    q.path = start;
    q.text = text;
    return onePath(std::move(q));
}

std::filesystem::path QueuedUserPort::saveFileDialog(const std::filesystem::path& start,
                                                     const std::string& filter,
                                                     const std::string& defaultExtension) {
    Question q;
    q.kind = Question::Kind::SaveFile;
    q.path = start;
    q.filter = filter;
    q.defaultExtension = defaultExtension;
    return onePath(std::move(q));
}

std::filesystem::path QueuedUserPort::openFileDialog(const std::filesystem::path& start,
                                                     const std::string& filter) {
    Question q;
    q.kind = Question::Kind::OpenFile;
    q.path = start;
    q.filter = filter;
    return onePath(std::move(q));
}

std::vector<std::filesystem::path> QueuedUserPort::openFilesDialog(
    const std::filesystem::path& start, const std::string& filter) {
    Question q;
    q.kind = Question::Kind::OpenFiles;
    q.path = start;
    q.filter = filter;
    return ask(std::move(q)).paths;
}

int QueuedUserPort::askAction(bool periodAllowed) {
    Question q;
    q.kind = Question::Kind::Action;
    q.offerResume = periodAllowed;
    const int choice = ask(std::move(q)).choice;
    if (choice < 0 || choice > 3 || (choice == 3 && !periodAllowed)) return -1;
    return choice;
}

bool QueuedUserPort::askFrameRange(uint32_t frameCount, uint32_t& start, uint32_t& end) {
    Question q;
    q.kind = Question::Kind::FrameRange;
    q.frameCount = frameCount;
    const auto a = ask(std::move(q));
    // Only a range inside the recording counts; anything else is a cancel.
    if (a.first < 1 || a.last < a.first || a.last > frameCount) return false;
    start = a.first;
    end = a.last;
    return true;
}

}  // namespace fsv::client
