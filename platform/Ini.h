#pragma once
// Profile (ini) files read and written the way the program has always used them: sections and
// keys are found regardless of case, a missing key gives the caller's default, a number is read
// from the value's leading digits, and a write creates the section and key it needs while the
// rest of the file stays as it was.

#include <filesystem>
#include <optional>
#include <string>

namespace fsv::platform {

int getProfileInt(const std::filesystem::path& file, const std::string& section,
                  const std::string& key, int defaultValue);
std::string getProfileString(const std::filesystem::path& file, const std::string& section,
                             const std::string& key, const std::string& defaultValue);
// A value of nullopt removes the key. Returns false when the file cannot be written.
bool writeProfileString(const std::filesystem::path& file, const std::string& section,
                        const std::string& key, const std::optional<std::string>& value);
bool writeProfileInt(const std::filesystem::path& file, const std::string& section,
                     const std::string& key, int value);

// The number a profile value stands for: optional blanks and sign, then the leading digits;
// 0 when there are none.
int profileNumber(const std::string& text);

}  // namespace fsv::platform
