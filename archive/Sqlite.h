#pragma once
// A thin hold on SQLite: a database connection and its prepared statements, each closed by its
// destructor. Errors come back as false (or an empty result) with the database's own message.

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace fsv::archive {

class Statement;

class Database {
  public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating when `create`) the file; a database is used by one thread at a time.
    bool open(const std::string& path, bool create, bool readOnly, std::string* error);
    bool isOpen() const { return db_ != nullptr; }
    // Runs statements without results; false with the message in `error`.
    bool exec(const std::string& sql, std::string* error = nullptr);
    std::string lastError() const;
    int64_t lastInsertId() const;
    // Rows changed by the last statement.
    int changes() const;
    sqlite3* handle() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
};

class Statement {
  public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // Binds by 1-based index; returns *this so that binds chain.
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, const std::string& value);
    Statement& bindNull(int index);
    // One step: true while a row is there; `done` tells a clean end from an error.
    bool step();
    bool done() const { return done_; }
    // Runs to the end; false on an error.
    bool run();
    void reset();

    int64_t integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;

  private:
    sqlite3_stmt* stmt_ = nullptr;
    bool done_ = false;
    bool failed_ = false;
};

// A transaction that rolls back unless committed.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    bool begun() const { return begun_; }
    bool commit();

  private:
    Database& db_;
    bool begun_ = false;
    bool done_ = false;
};

}  // namespace fsv::archive
