// The catalog's schema and every step that brought it to its current form, in order. A catalog
// records the steps it has taken in its user_version; opening it for writing takes the rest,
// each in a transaction of its own. Steps are only ever added at the end.
#include "archive/Schema.h"

#include <string>

namespace fsv::archive {

namespace {

const char* const kSteps[] = {
    // 1: recorders, their channels, the recordings and those being put into place.
    R"(CREATE TABLE recorders (
         id INTEGER PRIMARY KEY,
         name TEXT NOT NULL UNIQUE,
         address TEXT NOT NULL DEFAULT '',
         port INTEGER NOT NULL DEFAULT 0,
         recorder_name TEXT NOT NULL DEFAULT '');
       CREATE TABLE cameras (
         id INTEGER PRIMARY KEY,
         recorder_id INTEGER NOT NULL REFERENCES recorders(id),
         kind INTEGER NOT NULL DEFAULT 0,
         code INTEGER NOT NULL,
         name TEXT NOT NULL DEFAULT '',
         UNIQUE (recorder_id, kind, code));
       CREATE TABLE recordings (
         id INTEGER PRIMARY KEY,
         recorder_id INTEGER NOT NULL REFERENCES recorders(id),
         camera_id INTEGER NOT NULL REFERENCES cameras(id),
         event_key TEXT NOT NULL,
         date_id INTEGER NOT NULL DEFAULT 0,
         start_time TEXT NOT NULL,
         path TEXT NOT NULL UNIQUE,
         bytes INTEGER NOT NULL,
         sha256 TEXT NOT NULL,
         archived_at INTEGER NOT NULL,
         verified_at INTEGER,
         UNIQUE (camera_id, event_key));
       CREATE TABLE pending (
         path TEXT PRIMARY KEY,
         recorder_id INTEGER NOT NULL REFERENCES recorders(id),
         camera_id INTEGER NOT NULL REFERENCES cameras(id),
         event_key TEXT NOT NULL,
         date_id INTEGER NOT NULL DEFAULT 0,
         start_time TEXT NOT NULL,
         bytes INTEGER NOT NULL,
         sha256 TEXT NOT NULL);)",
    // 2: find and prune go by start time.
    R"(CREATE INDEX recordings_start ON recordings(start_time);)",
};

}  // namespace

int latestSchemaVersion() { return static_cast<int>(std::size(kSteps)); }

bool migrate(Database& db, std::string* error) {
    Statement version(db, "PRAGMA user_version");
    if (!version.step()) {
        if (error) *error = db.lastError();
        return false;
    }
    int at = static_cast<int>(version.integer(0));
    version.reset();
    if (at > latestSchemaVersion()) {
        if (error)
            *error =
                "the catalog was written by a newer program (schema " + std::to_string(at) + ")";
        return false;
    }
    for (; at < latestSchemaVersion(); ++at) {
        Transaction t(db);
        if (!t.begun() || !db.exec(kSteps[at], error) ||
            !db.exec("PRAGMA user_version = " + std::to_string(at + 1), error) || !t.commit()) {
            if (error && error->empty()) *error = db.lastError();
            return false;
        }
    }
    return true;
}

}  // namespace fsv::archive
