#pragma once
// The login log (login.log in the data folder): the addresses used in the Connect To dialog,
// most recent first, each at most once. Also the dialog's checks, without a window.
//
// Layout: a signed 32-bit little-endian line count, then the lines, each the address text
// followed by a line feed (no carriage return, no zero byte).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Shared.h"
#include "state/StateFiles.h"

namespace fsv::state {

inline constexpr char kEnterId[] = "Enter ID, please.";
inline constexpr char kEnterIpAddress[] = "Enter IP Address, Please.";
inline constexpr size_t kConnectToFieldLimit = 32;  // ID and password

std::vector<uint8_t> encodeLoginLog(const std::vector<std::string>& lines);
// Reads the lines the count announces. A carriage return before a line feed is dropped. Data
// that end before the count is reached keep the complete lines (Damaged; the dialog shows no
// message for it); a last line without its line feed is not complete.
ReadResult<std::vector<std::string>> decodeLoginLog(std::span<const uint8_t> data);

// The list after a connect to `address`: the address first, then the older entries in their
// order without it. Duplicates among the older entries are kept.
std::vector<std::string> loginLogAfterConnect(const std::vector<std::string>& entries,
                                              const std::string& address);

// dataFolder()/"login.log".
std::filesystem::path loginLogPath();
ReadResult<std::vector<std::string>> loadLoginLog(const std::filesystem::path& file);
// Writes the whole list (through a temporary file). Lines holding a line feed cannot be
// stored and are left out.
bool saveLoginLog(const std::filesystem::path& file, const std::vector<std::string>& lines,
                  std::string* error = nullptr);

// The Connect To dialog's fields and its check on Connect: the port first (range message),
// then the ID ("Enter ID, please."), then the address ("Enter IP Address, Please.").
struct ConnectToFields {
    std::string address;
    std::string id = "Guest";
    std::string password;
    std::string port = "5066";
};
struct ConnectToCheck {
    std::optional<ConnectRequest> request;  // kind 1; set when the dialog may close
    std::string message;                    // the error shown otherwise
};
ConnectToCheck checkConnectTo(const ConnectToFields& fields);

}  // namespace fsv::state
