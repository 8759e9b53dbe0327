#pragma once
#include <string>

#include "archive/Sqlite.h"

namespace fsv::archive {

// The schema version this program writes.
int latestSchemaVersion();
// Takes the catalog's schema from its version to the latest; false (with why) when a step
// failed or the catalog is newer than this program.
bool migrate(Database& db, std::string* error);

}  // namespace fsv::archive
