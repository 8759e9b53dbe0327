#include "recordings/download/PlayFile.h"

namespace fsv::download {

std::unique_ptr<PlayFile> makePlayFile() { return nullptr; }
std::unique_ptr<PlayDecoder> makePlayDecoder() { return nullptr; }

}  // namespace fsv::download
