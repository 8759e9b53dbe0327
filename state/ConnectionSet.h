#pragma once
// Saved connection sets (*.sav): the recorders the program is connected to at the moment of
// saving, with their login data, so that they can all be connected again later.
//
// Layout (little-endian; texts zero-terminated, no length prefix):
//   0  13  "KOR_FSV_Link" + NUL
//   13  4  record count, signed
//   17     records: kind u16, address, ID, scrambled password, port u16
// (the port follows the texts here, unlike the address book).

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/Shared.h"
#include "state/StateFiles.h"

namespace fsv::state {

inline constexpr char kLinkMagic[] = "KOR_FSV_Link";
inline constexpr size_t kLinkMagicSize = 13;
inline constexpr char kLinkFilter[] = "FSV Save File(*.SAV)|*.sav|All Files(*.*)|*.*||";
inline constexpr char kLinkExtension[] = "sav";
inline constexpr char kNoConnectionInRecord[] = "Don't have any connection in record!";
inline constexpr char kReadFileFail[] = "Read file fail!";
inline constexpr char kFailedToSaveFile[] = "Failed to save file";

std::vector<uint8_t> encodeConnectionSet(const std::vector<ConnectRequest>& connections);
// A wrong magic (any of the 13 bytes) gives WrongFormat with "Unexpected file format!"; a
// count of 0 (or below) gives Empty with "Don't have any connection in record!". Data that end
// inside a record keep the complete records (Damaged); a password that is not scrambled text
// is read as empty (Damaged).
ReadResult<std::vector<ConnectRequest>> decodeConnectionSet(std::span<const uint8_t> data);

enum class SaveSet { Written, NothingToSave, Failed };
// Saving with no connection writes nothing and says nothing. A failed write leaves an older
// file as it was and gives "Failed to save file" in `message`.
SaveSet saveConnectionSet(const std::filesystem::path& file,
                          const std::vector<ConnectRequest>& connections,
                          std::string* message = nullptr);
// Reads a set; a file that cannot be opened or read gives Unreadable with "Read file fail!".
ReadResult<std::vector<ConnectRequest>> loadConnectionSet(const std::filesystem::path& file);

}  // namespace fsv::state
