#pragma once
// What the readers of the program's own files report, and the small helpers they share.
//
// Every reader works on bytes already in memory and never reads past them. A file that ends in
// the middle of a record keeps the records that were complete (status Damaged, with a
// description of the damage); a file that is not ours at all gives WrongFormat with the text
// "Unexpected file format!".

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fsv::state {

inline constexpr char kUnexpectedFileFormat[] = "Unexpected file format!";
// The range message of a port field that does not hold 1024 … 65535.
inline constexpr char kPortRangeMessage[] = "Please enter an integer between 1024 and 65535.";

enum class ReadStatus {
    Ok,           // read whole
    Missing,      // no file, or an empty one: nothing to read, nothing to report
    Damaged,      // ends early or holds an unreadable field; the complete records were kept
    Empty,        // well formed but holds no records where some are required
    WrongFormat,  // not this kind of file (magic or version); nothing was read
    Unreadable,   // the file exists but could not be read
};

template <class T>
struct ReadResult {
    T value{};
    ReadStatus status = ReadStatus::Ok;
    std::string message;  // what went wrong; empty for Ok and Missing

    // True when `value` holds something worth using (possibly only the complete part).
    bool usable() const {
        return status == ReadStatus::Ok || status == ReadStatus::Damaged ||
               status == ReadStatus::Missing;
    }
};

// Larger files are refused: none of the program's own files comes near this.
inline constexpr uintmax_t kMaxStateFileSize = 64u << 20;

// The whole file. nullopt with `missing` set when there is no such file, with `error` set when
// it exists but cannot be read (or is larger than kMaxStateFileSize).
std::optional<std::vector<uint8_t>> readWholeFile(const std::filesystem::path& file,
                                                  bool* missing = nullptr,
                                                  std::string* error = nullptr);

// A port field's text as the dialogs take it: decimal digits only, 1024 … 65535.
std::optional<uint16_t> parsePortField(std::string_view text);

}  // namespace fsv::state
