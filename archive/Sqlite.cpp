#include "archive/Sqlite.h"

#include <sqlite3.h>

namespace fsv::archive {

Database::~Database() {
    if (db_) sqlite3_close_v2(db_);
}

bool Database::open(const std::string& path, bool create, bool readOnly, std::string* error) {
    int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (create && !readOnly) flags |= SQLITE_OPEN_CREATE;
    flags |= SQLITE_OPEN_NOMUTEX;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        if (error) *error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return false;
    }
    db_ = db;
    // A second process (the viewer, a verify) may hold the catalog for a moment.
    sqlite3_busy_timeout(db_, 10000);
    return true;
}

bool Database::exec(const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    if (error) *error = message ? message : lastError();
    sqlite3_free(message);
    return false;
}

std::string Database::lastError() const { return db_ ? sqlite3_errmsg(db_) : "not open"; }

int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Database::changes() const { return sqlite3_changes(db_); }

Statement::Statement(Database& db, const char* sql) {
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, const std::string& value) {
    if (stmt_)
        sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (stmt_) sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::step() {
    if (!stmt_ || done_ || failed_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE)
        done_ = true;
    else
        failed_ = true;
    return false;
}

bool Statement::run() {
    while (step()) {
    }
    return done_;
}

void Statement::reset() {
    if (!stmt_) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    done_ = failed_ = false;
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db) { begun_ = db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (begun_ && !done_) db_.exec("ROLLBACK");
}

bool Transaction::commit() {
    if (!begun_ || done_) return false;
    done_ = db_.exec("COMMIT");
    return done_;
}

}  // namespace fsv::archive
