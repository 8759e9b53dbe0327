#include "merge/KtMerge.h"

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>

#include "media/AviReader.h"
#include "merge/MergeDialog.h"

namespace {

struct Component {
    QWidget* window = nullptr;
    std::string credential;
    std::filesystem::path file;
};

std::mutex mutex;  // guards `component` and `callback`
Component* component = nullptr;
KtMergeCallback callback = nullptr;
std::atomic<bool> busy{false};

void report(int value, int state) {
    KtMergeCallback cb;
    {
        std::lock_guard lock(mutex);
        cb = component ? callback : nullptr;
    }
    if (cb) cb(value, state);
}

}  // namespace

extern "C" {

int32_t KtMerge_Create(void* window, KtMergeCallback cb) {
    std::lock_guard lock(mutex);
    if (component) return 0;
    component = new Component;
    component->window = static_cast<QWidget*>(window);
    callback = cb;
    return 1;
}

int32_t KtMerge_Destroy(void) {
    std::lock_guard lock(mutex);
    delete component;
    component = nullptr;
    callback = nullptr;
    return 1;
}

int32_t KtMerge_IsNotEnd(void) { return busy ? 1 : 0; }

int32_t KtMerge_Authority(const char* id, const char* password) {
    std::lock_guard lock(mutex);
    if (!component) return 0;
    component->credential = std::string(id ? id : "") + ":" + (password ? password : "");
    return 1;
}

int32_t KtMerge_AddAVideoFile(const char* path) {
    if (!path || !*path) return 0;
    {
        std::lock_guard lock(mutex);
        if (!component) return 0;
    }
    fsv::media::AviReader reader;
    if (reader.open(path) <= 0) return 0;
    std::lock_guard lock(mutex);
    if (!component) return 0;
    component->file = path;
    return 1;
}

int32_t KtMerge_DoModal(int32_t) {
    Component copy;
    {
        std::lock_guard lock(mutex);
        if (!component || component->file.empty()) return 0;
        copy = *component;
        component->file.clear();
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || busy) return 0;
    fsv::merge::MergeDialog dialog(copy.file, copy.credential, report, busy, copy.window);
    if (!dialog.opened()) return 0;
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

}  // extern "C"
