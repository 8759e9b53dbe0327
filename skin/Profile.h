#pragma once
// A profile (ini) text held in memory and read the way the skin files have always been read:
// sections and keys found regardless of case, the first of duplicate sections or keys wins,
// values come back through a 260-character buffer (259 characters at most), and a section's
// key names come back in file order through one 260-character buffer, so a long list is cut
// after the last name that fits whole. Sections and keys are found through tables keyed by
// their lower-case names, so reading and looking up take time in proportion to the text.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fsv::skin {

inline constexpr size_t kProfileBuffer = 260;

class Profile {
  public:
    Profile() = default;
    explicit Profile(std::string_view text);

    // The value, or "" when the section or key is missing.
    std::string value(std::string_view section, std::string_view key) const;
    // The key names of a section in file order; empty when the section is missing.
    std::vector<std::string> keys(std::string_view section) const;
    bool hasSection(std::string_view section) const;

  private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> byKey;  // lower-case key -> entry
    };
    const Section* find(std::string_view section) const;
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> byName_;  // lower-case section name -> section
};

// Splits a value at commas into at most `count` tokens; the last one takes the rest of the
// value, commas and all. Tokens that are not there are empty.
std::vector<std::string> splitTokens(std::string_view value, size_t count);

// The number a token stands for: blanks, a sign and the leading decimal digits; 0 when none.
int tokenNumber(std::string_view token);

bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace fsv::skin
