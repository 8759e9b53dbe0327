// The AVI reader over arbitrary bytes: opening, every sample, the key-frame queries, the time
// stamps and the index check must stay inside the data.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "media/AviReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int fd = memfd_create("avi", 0);
    if (fd < 0) return 0;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    fsv::media::AviReader r;
    const int frames = r.open(path, false);
    for (int i = -1; i <= frames && i < 2000; ++i) {
        size_t n = 0;
        r.readVideoSample(i, nullptr, 0, &n);
        r.videoSample(i);
        r.isKeyFrame(i);
        r.previousKeyFrame(i);
        char text[32];
        r.readTextSample(i, text, sizeof text);
        fsv::SystemTime t{};
        r.readTimeStamp(i, t);
    }
    for (int s = 0; s < r.streamCount(); ++s) r.streamFormat(s), r.sampleCount(s);
    r.videoFormat();
    fsv::media::AviReader::checkAviIndex(path, static_cast<uint32_t>(size));
    return 0;
}
