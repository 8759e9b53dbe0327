#include "skin/Profile.h"

#include <cctype>
#include <climits>

namespace fsv::skin {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

Profile::Profile(std::string_view text) {
    Section* current = nullptr;  // null while outside a section, or inside a repeated one
    size_t pos = 0;
    while (pos < text.size()) {
        // A NUL ends a line like a line break does, so no name or value ever holds one.
        size_t end = text.find_first_of(std::string_view("\n\0", 2), pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            const std::string_view name =
                trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            // The first section of a name wins; a repeated one is passed over whole.
            current = nullptr;
            if (byName_.try_emplace(lower(name), sections_.size()).second)
                current = &sections_.emplace_back(Section{std::string(name), {}, {}});
            continue;
        }
        if (!current) continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, eq));
        if (key.empty()) continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (current->byKey.try_emplace(lower(key), current->entries.size()).second)
            current->entries.push_back(Entry{std::string(key), std::string(value)});
    }
}

const Profile::Section* Profile::find(std::string_view section) const {
    const auto it = byName_.find(lower(section));
    return it == byName_.end() ? nullptr : &sections_[it->second];
}

bool Profile::hasSection(std::string_view section) const { return find(section) != nullptr; }

std::string Profile::value(std::string_view section, std::string_view key) const {
    const Section* s = find(section);
    if (!s) return {};
    const auto it = s->byKey.find(lower(key));
    if (it == s->byKey.end()) return {};
    return s->entries[it->second].value.substr(0, kProfileBuffer - 1);
}

std::vector<std::string> Profile::keys(std::string_view section) const {
    std::vector<std::string> out;
    const Section* s = find(section);
    if (!s) return out;
    // Each name takes its length plus a terminator; the list ends with one more terminator.
    size_t used = 1;
    for (const Entry& e : s->entries) {
        if (used + e.key.size() + 1 > kProfileBuffer) break;
        used += e.key.size() + 1;
        out.push_back(e.key);
    }
    return out;
}

std::vector<std::string> splitTokens(std::string_view value, size_t count) {
    std::vector<std::string> out;
    out.reserve(count);
    while (out.size() + 1 < count) {
        const size_t comma = value.find(',');
        if (comma == std::string_view::npos) break;
        out.emplace_back(value.substr(0, comma));
        value.remove_prefix(comma + 1);
    }
    if (count > 0) out.emplace_back(value);
    while (out.size() < count) out.emplace_back();
    return out;
}

int tokenNumber(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    long long v = 0;
    for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
        v = v * 10 + (t[i] - '0');
        if (v > INT_MAX) v = INT_MAX;  // an absurd number stays the largest one, never wraps
    }
    return static_cast<int>(negative ? -v : v);
}

}  // namespace fsv::skin
