#pragma once
// Helpers of the media tests: a scratch folder per test, running the ffmpeg and ffprobe
// programs, and what ffprobe says about a file.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace fsv::media::test {

inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

inline std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// ffmpeg decodes every stream of the file without an error message.
inline bool ffmpegDecodes(const std::filesystem::path& file) {
    std::string cmd = "ffmpeg -nostdin -v error -i " + quoted(file) + " -f null - 2>&1";
    std::string out;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (rc != 0 || !out.empty()) ADD_FAILURE() << "ffmpeg on " << file << ":\n" << out;
    return rc == 0 && out.empty();
}

struct ProbedStream {
    std::string type, codec, tag;
    int width = 0, height = 0, packets = 0, keyPackets = 0;
};

// Streams as ffprobe reads them, with packet counts (empty positions are not packets).
inline std::vector<ProbedStream> ffprobe(const std::filesystem::path& file) {
    int status = 0;
    std::string out =
        run("ffprobe -v error -count_packets -show_entries "
            "stream=codec_type,codec_name,codec_tag_string,width,height,"
            "nb_read_packets -of json " +
                quoted(file),
            &status);
    std::vector<ProbedStream> streams;
    if (status != 0) return streams;
    auto j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded()) return streams;
    for (auto& s : j["streams"]) {
        ProbedStream p;
        p.type = s.value("codec_type", "");
        p.codec = s.value("codec_name", "");
        p.tag = s.value("codec_tag_string", "");
        p.width = s.value("width", 0);
        p.height = s.value("height", 0);
        p.packets = std::stoi(s.value("nb_read_packets", "0"));
        streams.push_back(p);
    }
    // Key packets of the first video stream.
    std::string flags =
        run("ffprobe -v error -select_streams v:0 -show_entries packet=flags "
            "-of csv=p=0 " +
            quoted(file));
    for (auto& s : streams)
        if (s.type == "video") {
            size_t at = 0;
            while ((at = flags.find('K', at)) != std::string::npos) ++s.keyPackets, ++at;
            break;
        }
    return streams;
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::path(FSV_BINARY_DIR) / "test-media" /
               (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    // An AVI file made by ffmpeg from its test picture source.
    std::filesystem::path ffmpegAvi(const std::string& name, const std::string& codecArgs,
                                    int frames = 12, const std::string& size = "176x144") {
        auto out = path(name);
        int status = 0;
        run("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=" + size + ":rate=10 -frames:v " +
                std::to_string(frames) + " " + codecArgs + " -y " + quoted(out),
            &status);
        EXPECT_EQ(status, 0) << codecArgs;
        return out;
    }
    std::filesystem::path dir_;
};

}  // namespace fsv::media::test
