// A skin_e.ini of any bytes; every panel-window file it names is the same bytes again. Whatever
// loads must respect the bounds the controls rely on.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "skin/Skin.h"

namespace {

void check(const fsv::skin::Rect& r) {
    if (r.w < 0 || r.h < 0 || r.w > fsv::skin::kMaxExtent || r.h > fsv::skin::kMaxExtent) std::abort();
}

void check(const fsv::skin::Controls& c) {
    for (const auto& line : c.buttonLines)
        for (const auto& b : line.buttons) {
            check(b.source);
            if (b.index < 0 || b.index >= fsv::skin::kButtonsPerLine || b.name.empty()) std::abort();
        }
    for (const auto& line : c.panelLines)
        if (line.panel)
            for (const auto& set : line.panel->imageSets)
                if (set.sizes.size() > fsv::skin::kMaxImagesPerSet) std::abort();
    for (const auto& line : c.sliderLines)
        for (const auto& s : line.items) check(s.thumb);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const fsv::skin::SkinSpec s = fsv::skin::parseSkin(
        text, [&](const std::string&) -> std::optional<std::string> { return text; });
    check(s.controls);
    for (const auto& w : s.windows) check(w.controls);
    return 0;
}
