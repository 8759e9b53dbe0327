// bench_skin: parses a skin description of 4,000 sections and one of 40,000 (each section with
// a few keys, every name also repeated in another case) in the same run, and prints both times
// with their ratio. Reading takes time in proportion to the text, so the ratio stays near 10.
#include <chrono>
#include <cstdio>
#include <string>

#include "skin/Skin.h"

namespace {

std::string description(int sections) {
    std::string text = "[ButtonLines]\nL=u.bmp\n";
    for (int i = 0; i < sections; ++i) {
        const std::string n = std::to_string(i);
        text +=
            "[Section" + n + "]\nkey=1,2,3\nKEY=4\nother" + n + "=5,6\n[SECTION" + n + "]\nkey=7\n";
    }
    return text;
}

double secondsToParse(const std::string& text, int rounds) {
    const auto start = std::chrono::steady_clock::now();
    size_t sink = 0;
    for (int r = 0; r < rounds; ++r)
        sink += fsv::skin::parseSkin(text, nullptr).controls.buttonLines.size();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return sink ? s / rounds : s / rounds;
}

}  // namespace

int main() {
    const std::string small = description(4000), large = description(40000);
    const double a = secondsToParse(small, 20), b = secondsToParse(large, 2);
    std::printf("4,000 sections (%zu bytes): %.4f s\n", small.size(), a);
    std::printf("40,000 sections (%zu bytes): %.4f s\n", large.size(), b);
    std::printf("ratio 40,000 / 4,000: %.1f (10 is linear)\n", b / a);
    return 0;
}
