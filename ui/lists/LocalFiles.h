#pragma once
// What the windows listing recorded files (the download history, the archive) do with a file
// the user opens: an AVI plays in a channel, a WAV goes to the sound player.

#include <filesystem>

namespace fsv::ui {

class LocalFiles {
  public:
    virtual ~LocalFiles() = default;
    // Whether the file plays in a channel now.
    virtual bool isPlaying(const std::filesystem::path& /*file*/) const { return false; }
    // Local playback of an AVI file.
    virtual void openAvi(const std::filesystem::path& file) = 0;
    // The sound player; by default the desktop's handler of the file.
    virtual void playWav(const std::filesystem::path& file);
};

}  // namespace fsv::ui
