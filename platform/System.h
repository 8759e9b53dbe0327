#pragma once
// Small services of the operating system: the tick count, debug output, the data and config
// folders, free disk space and the single-instance lock.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fsv::platform {

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32 like the system tick.
uint32_t tickCount();

// Diagnostic output: written to standard error only when FARSIGHT_DEBUG is set.
void debugOutput(std::string_view text);
bool debugEnabled();

// The data folder (address book, login log, resume files, skins): $FARSIGHT_HOME, else
// $XDG_DATA_HOME/FarsightViewer, else ~/.local/share/FarsightViewer. Created (mode 0700) when
// missing.
std::filesystem::path dataFolder();
// The config folder (ini files, key container): $FARSIGHT_CONFIG, else
// $XDG_CONFIG_HOME/FarsightViewer, else ~/.config/FarsightViewer. Created (mode 0700) when
// missing.
std::filesystem::path configFolder();

// Free bytes for the caller on the file system of `path` (or its nearest existing parent);
// nullopt when it cannot be told.
std::optional<uint64_t> freeDiskSpace(const std::filesystem::path& path);

// Asks the system to start writing `length` bytes at `offset` of the open file `fd` to the disk
// and returns at once; a later flush of the file then finds little left to write. Only a hint:
// where it cannot be done, nothing happens.
void startWriteback(int fd, uint64_t offset, uint64_t length);

// Held for the life of the object when acquired; another process trying the same name fails.
class SingleInstanceLock {
  public:
    // `name` becomes a lock file in the runtime folder ($XDG_RUNTIME_DIR, else the temp folder).
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
    bool acquired() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace fsv::platform
