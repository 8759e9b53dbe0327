#include "recordings/download/PlayFile.h"

namespace fsv::download {

std::unique_ptr<PlayFile> makePlayFile() { return nullptr; }

}  // namespace fsv::download
