#include "platform/Ini.h"

#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <cctype>
#include <climits>
#include <system_error>

#include "platform/AtomicFile.h"

namespace fsv::platform {
namespace {

bool load(CSimpleIniA& ini, const std::filesystem::path& file) {
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    // Only a file is read: a folder in its place would be taken for one of an impossible size,
    // and a pipe would never end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return false;
    return ini.LoadFile(file.c_str()) >= 0;
}

}  // namespace

int profileNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(UINT_MAX)) v = UINT_MAX;  // wraps like a 32-bit value
    }
    return static_cast<int>(static_cast<unsigned>(negative ? -v : v));
}

int getProfileInt(const std::filesystem::path& file, const std::string& section,
                  const std::string& key, int defaultValue) {
    CSimpleIniA ini;
    if (!load(ini, file)) return defaultValue;
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!v) return defaultValue;
    return profileNumber(v);
}

std::string getProfileString(const std::filesystem::path& file, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    CSimpleIniA ini;
    if (!load(ini, file)) return defaultValue;
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!v) return defaultValue;
    std::string s = v;
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return s;
}

bool writeProfileString(const std::filesystem::path& file, const std::string& section,
                        const std::string& key, const std::optional<std::string>& value) {
    CSimpleIniA ini;
    load(ini, file);
    if (value)
        ini.SetValue(section.c_str(), key.c_str(), value->c_str());
    else
        ini.Delete(section.c_str(), key.c_str());
    std::string out;
    if (ini.Save(out) < 0) return false;
    return writeFileAtomically(file, out.data(), out.size());
}

bool writeProfileInt(const std::filesystem::path& file, const std::string& section,
                     const std::string& key, int value) {
    return writeProfileString(file, section, key, std::to_string(value));
}

}  // namespace fsv::platform
