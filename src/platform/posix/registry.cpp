// The registry of the POSIX platform layer: one SQLite database, registry.db under the store root.
//
// Layout. The table `keys` holds every key as (id, parent, name, class, written); the four
// predefined roots are the rows 1 to 4 with parent 0. The table `key_values` holds every value as
// (id, key, name, type, data). Names are TEXT with SQLite's NOCASE collation, which folds ASCII
// letters only: lookups and the uniqueness of a name under its parent ignore case, while each
// name keeps the case it was created with. Ids are never reused (AUTOINCREMENT), so a value's id
// is its creation order, which RegEnumValueA follows as Windows does, and a handle to a deleted key
// can never land on a newer one. RegEnumKeyExA lists subkeys sorted as Windows sorts them, by the
// names with ASCII letters folded to upper case (the WINCASE collation below).
//
// Concurrency. The database runs in WAL mode with a busy timeout of ten seconds, and every write
// is one transaction begun with BEGIN IMMEDIATE, so writers in several processes queue for the
// write lock rather than fail or overwrite each other. Inside a process one mutex serializes the
// layer's single connection and its table of open keys.
//
// Handles. An HKEY is the address of an OpenKey record of this file, listed in a table that is
// consulted before the record is used, so a closed or made-up handle gives ERROR_INVALID_HANDLE.
// A handle remembers the store root it was opened in and the access it was granted.
//
// Permissions. A store the process may not write (a root owned by another user, a read-only file
// system) can still be read. Opening a key for any write access there is refused with
// ERROR_ACCESS_DENIED, as Windows refuses it when the key's security does not allow writing, and
// so is every write through a predefined root. A store that does not exist yet reads as empty;
// only the first write creates the root folder and the database.
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "platform/posix/store.h"
#include "platform/win32.h"

namespace {

using steward::posix::CreateFolders;
using steward::posix::FolderWritable;
using steward::posix::StoreRoot;

constexpr char kDatabaseName[] = "registry.db";
constexpr int kBusyTimeoutMilliseconds = 10000;
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// Access rights that change a key or its values.
constexpr REGSAM kDelete = 0x00010000;
constexpr REGSAM kWriteDac = 0x00040000;
constexpr REGSAM kWriteOwner = 0x00080000;
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDelete | kWriteDac | kWriteOwner;

// Generic rights, mapped onto key rights as Windows maps them for keys.
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01, in 100-nanosecond ticks.
constexpr int64_t kFiletimeUnixEpoch = 116444736000000000LL;

// A failure carrying the Windows code the public function returns. It never leaves this file:
// every public function catches it.
struct Failure {
  DWORD code;
};

[[noreturn]] void Fail(DWORD code) {
  throw Failure{code};
}

// ---- SQLite helpers.

struct DatabaseCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

// The Windows code for an SQLite result. `fallback` names what was being done (ERROR_CANTREAD,
// ERROR_CANTWRITE or ERROR_CANTOPEN) and stands for the errors that have no closer match, such as
// a lock still held by another process when the busy timeout ran out.
DWORD FromSqlite(int result, DWORD fallback) {
  switch (result & 0xFF) {
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_IOERR:
      return ERROR_REGISTRY_IO_FAILED;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    default:
      return fallback;
  }
}

void Execute(sqlite3* db, const char* sql, DWORD fallback) {
  const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (result != SQLITE_OK) Fail(FromSqlite(result, fallback));
}

// One prepared statement, bound and stepped through; every failure becomes a Failure.
class Query {
 public:
  Query(sqlite3* db, const char* sql, DWORD fallback) : fallback_(fallback) {
    sqlite3_stmt* statement = nullptr;
    const int result = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    statement_.reset(statement);
    if (result != SQLITE_OK) Fail(FromSqlite(result, fallback_));
  }

  Query& Bind(int index, int64_t number) {
    Check(sqlite3_bind_int64(statement_.get(), index, number));
    return *this;
  }
  Query& Bind(int index, const std::string& text) {
    Check(sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Query& BindBlob(int index, const void* data, DWORD size) {
    // A zero-length blob, not NULL, so that an empty value reads back as empty data.
    Check(sqlite3_bind_blob64(statement_.get(), index, size == 0 ? "" : data, size,
                              SQLITE_TRANSIENT));
    return *this;
  }

  // Moves to the next row: true when there is one, false when the statement is done.
  bool Step() {
    const int result = sqlite3_step(statement_.get());
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    Fail(FromSqlite(result, fallback_));
  }

  // Runs the statement again with new bindings.
  void Reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
  }

  int64_t Number(int column) { return sqlite3_column_int64(statement_.get(), column); }
  std::string Text(int column) {
    const void* bytes = sqlite3_column_blob(statement_.get(), column);
    const int size = sqlite3_column_bytes(statement_.get(), column);
    return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), size);
  }
  const void* Blob(int column) { return sqlite3_column_blob(statement_.get(), column); }
  DWORD BlobSize(int column) {
    return static_cast<DWORD>(sqlite3_column_bytes(statement_.get(), column));
  }

 private:
  void Check(int result) {
    if (result != SQLITE_OK) Fail(FromSqlite(result, fallback_));
  }

  std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement_;
  DWORD fallback_;
};

// A transaction that rolls back unless committed. Writers take the write lock at the start
// (BEGIN IMMEDIATE), so that a transaction never has to upgrade a read lock that another writer
// could have made stale; readers see one consistent snapshot.
class Transaction {
 public:
  Transaction(sqlite3* db, bool write)
      : db_(db), fallback_(write ? ERROR_CANTWRITE : ERROR_CANTREAD) {
    Execute(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", fallback_);
  }
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    Execute(db_, "COMMIT", fallback_);
    open_ = false;
  }

 private:
  sqlite3* db_;
  DWORD fallback_;
  bool open_ = true;
};

// Orders names as Windows orders subkeys: byte by byte with ASCII letters in upper case.
int CompareWindowsCase(void*, int leftSize, const void* left, int rightSize, const void* right) {
  const auto* a = static_cast<const unsigned char*>(left);
  const auto* b = static_cast<const unsigned char*>(right);
  const int common = leftSize < rightSize ? leftSize : rightSize;
  for (int i = 0; i < common; ++i) {
    int x = a[i];
    int y = b[i];
    if (x >= 'a' && x <= 'z') x -= 'a' - 'A';
    if (y >= 'a' && y <= 'z') y -= 'a' - 'A';
    if (x != y) return x < y ? -1 : 1;
  }
  return leftSize == rightSize ? 0 : (leftSize < rightSize ? -1 : 1);
}

bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::string DatabasePath(const std::string& root) {
  return root + "/" + kDatabaseName;
}

// Whether this process may write the registry under `root`: the folder (or, before it exists,
// the nearest one above it) and the database file, if there is one, must be writable.
bool CanWrite(const std::string& root) {
  if (root.empty() || !FolderWritable(root)) return false;
  const std::string file = DatabasePath(root);
  return !FileExists(file) || faccessat(AT_FDCWD, file.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

// A path as a file: URI, for opening the database with URI parameters.
std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (const unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("/-._~", c) != nullptr) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri;
}

// ---- The connection.

// The layer's one connection to the registry database of one store root. It follows the root the
// caller works in, and is opened read-only while nothing has been written, so that reading never
// creates a file.
class Connection {
 public:
  // The database for reading in `root`, or nullptr when that store has no registry yet.
  sqlite3* ForRead(const std::string& root) {
    Follow(root);
    if (db_ != nullptr) return db_.get();
    const std::string file = DatabasePath(root);
    if (root.empty() || !FileExists(file)) return nullptr;

    const bool writable = CanWrite(root);
    Open(file, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    int result = HasSchema();
    if (result != SQLITE_ROW && result != SQLITE_DONE && !writable) {
      // A WAL database in a folder this process may not write cannot be read while its shared
      // memory file is missing. Writers keep that file (see Open), so it is missing only when
      // someone removed it after the last writer closed, and then all the data is in the main
      // file, which can be read as it stands.
      Drop();
      Open(FileUri(file) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
      result = HasSchema();
    }
    if (result != SQLITE_ROW) {
      // No tables yet (another process is creating the store) or no way to read them.
      Drop();
      if (result != SQLITE_DONE && result != SQLITE_OK) Fail(FromSqlite(result, ERROR_CANTREAD));
      return nullptr;
    }
    writable_ = writable;
    return db_.get();
  }

  // The database for writing in `root`, created with its folder when missing.
  sqlite3* ForWrite(const std::string& root) {
    Follow(root);
    if (root.empty()) Fail(ERROR_PATH_NOT_FOUND);
    if (!CanWrite(root)) Fail(ERROR_ACCESS_DENIED);
    if (db_ != nullptr && writable_) return db_.get();
    Drop();
    const DWORD created = CreateFolders(root);
    if (created != ERROR_SUCCESS) Fail(created);
    Open(DatabasePath(root), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    CreateSchema();
    writable_ = true;
    return db_.get();
  }

 private:
  // Drops the connection when it belongs to another root or to the parent of a forked process.
  void Follow(const std::string& root) {
    if (db_ != nullptr && pid_ != getpid()) {
      // SQLite connections must not cross fork(); closing the parent's connection here could
      // disturb the parent's locks, so the child leaves it alone.
      static_cast<void>(db_.release());
      writable_ = false;
    }
    if (db_ != nullptr && root_ != root) Drop();
    root_ = root;
  }

  void Drop() {
    db_.reset();
    writable_ = false;
  }

  void Open(const std::string& name, int flags) {
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    db_.reset(db);
    if (result != SQLITE_OK) {
      db_.reset();
      Fail(result == SQLITE_CANTOPEN && (flags & SQLITE_OPEN_READONLY) == 0
               ? ERROR_ACCESS_DENIED
               : FromSqlite(result, ERROR_CANTOPEN));
    }
    pid_ = getpid();
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
    sqlite3_create_collation(db, "WINCASE", SQLITE_UTF8, nullptr, CompareWindowsCase);
    if ((flags & SQLITE_OPEN_READONLY) == 0) {
      // Keep the WAL files when the last writer closes, so that readers that may not create
      // files in the folder can still open the database in WAL mode and see concurrent writes.
      int persist = 1;
      sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
      // The registry flushes lazily, as Windows' does: a crash may lose the latest writes but
      // never leaves the database inconsistent.
      sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    }
  }

  // SQLITE_ROW when the tables exist, SQLITE_DONE when they do not yet, else the error.
  int HasSchema() {
    sqlite3_stmt* raw = nullptr;
    int result = sqlite3_prepare_v2(
        db_.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'key_values'", -1,
        &raw, nullptr);
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(raw);
    if (result != SQLITE_OK) return result;
    return sqlite3_step(raw);
  }

  void CreateSchema() {
    // Switching to WAL takes a lock of its own; another process creating the store at the same
    // moment can hold it briefly.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMilliseconds);
    for (;;) {
      const int result =
          sqlite3_exec(db_.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
      if (result == SQLITE_OK) break;
      if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
        Fail(FromSqlite(result, ERROR_CANTOPEN));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    Transaction transaction(db_.get(), true);
    Execute(db_.get(),
            "CREATE TABLE IF NOT EXISTS keys ("
            "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
            "  parent INTEGER NOT NULL,"
            "  name TEXT NOT NULL COLLATE NOCASE,"
            "  class TEXT NOT NULL DEFAULT '',"
            "  written INTEGER NOT NULL DEFAULT 0,"
            "  UNIQUE (parent, name));"
            "CREATE TABLE IF NOT EXISTS key_values ("
            "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
            "  key INTEGER NOT NULL,"
            "  name TEXT NOT NULL COLLATE NOCASE,"
            "  type INTEGER NOT NULL,"
            "  data BLOB NOT NULL,"
            "  UNIQUE (key, name));"
            "INSERT OR IGNORE INTO keys (id, parent, name) VALUES"
            "  (1, 0, 'HKEY_CLASSES_ROOT'), (2, 0, 'HKEY_CURRENT_USER'),"
            "  (3, 0, 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS');"
            "PRAGMA user_version = 1;",
            ERROR_CANTWRITE);
    transaction.Commit();
  }

  Database db_;
  std::string root_;
  pid_t pid_ = 0;
  bool writable_ = false;
};

// ---- Open keys.

struct OpenKey {
  std::string root;  // the store root the key lives in
  int64_t id;        // its row in `keys`
  REGSAM access;     // the rights it was opened with
};

// Whether a row of `keys` is one of the predefined roots.
bool IsPredefinedRow(int64_t id) {
  return id >= 1 && id <= 4;
}

// What a handle stands for: an open key or one of the predefined roots.
struct Target {
  std::string root;
  int64_t id;
  REGSAM access;

  // A root key exists in every store, even in one that has not been created yet.
  bool IsRoot() const { return IsPredefinedRow(id); }
};

struct Registry {
  std::mutex mutex;
  Connection connection;
  std::unordered_map<HKEY, std::unique_ptr<OpenKey>> keys;
  // Records whose address happened to equal a predefined handle's value; never handed out.
  std::vector<std::unique_ptr<OpenKey>> unusable;
};

// Never destroyed, so that threads still running while the process exits find it intact.
Registry& State() {
  static Registry* registry = new Registry;
  return *registry;
}

// The row of a predefined root key, or 0 for any other handle.
int64_t PredefinedRow(HKEY key) {
  switch (reinterpret_cast<uintptr_t>(key)) {
    case 0x80000000u:  // HKEY_CLASSES_ROOT
      return 1;
    case 0x80000001u:  // HKEY_CURRENT_USER
      return 2;
    case 0x80000002u:  // HKEY_LOCAL_MACHINE
      return 3;
    case 0x80000003u:  // HKEY_USERS
      return 4;
    default:
      return 0;
  }
}

Target Resolve(Registry& registry, HKEY key) {
  const int64_t row = PredefinedRow(key);
  if (row != 0) return Target{StoreRoot(), row, KEY_ALL_ACCESS};
  const auto found = registry.keys.find(key);
  if (found == registry.keys.end()) Fail(ERROR_INVALID_HANDLE);
  const OpenKey& open = *found->second;
  return Target{open.root, open.id, open.access};
}

HKEY AddKey(Registry& registry, const std::string& root, int64_t id, REGSAM access) {
  for (;;) {
    auto record = std::make_unique<OpenKey>(OpenKey{root, id, access});
    HKEY handle = reinterpret_cast<HKEY>(record.get());
    if (PredefinedRow(handle) != 0) {
      registry.unusable.push_back(std::move(record));
      continue;
    }
    registry.keys.emplace(handle, std::move(record));
    return handle;
  }
}

// The rights a requested access mask grants: generic rights become key rights, and the WOW64
// view flags, which select nothing here, are dropped.
REGSAM Granted(REGSAM requested, const std::string& root) {
  REGSAM granted = requested & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY | kMaximumAllowed | kGenericAll |
                                 kGenericExecute | kGenericWrite | kGenericRead);
  if ((requested & (kGenericRead | kGenericExecute)) != 0) granted |= KEY_READ;
  if ((requested & kGenericWrite) != 0) granted |= KEY_WRITE;
  if ((requested & kGenericAll) != 0) granted |= KEY_ALL_ACCESS;
  if ((requested & kMaximumAllowed) != 0) granted |= CanWrite(root) ? KEY_ALL_ACCESS : KEY_READ;
  return granted;
}

// Splits a subkey path into its names. A leading backslash is refused as Windows refuses it; a
// trailing one is ignored.
std::vector<std::string> SplitKeyPath(const char* subKey) {
  std::vector<std::string> names;
  if (subKey == nullptr || subKey[0] == '\0') return names;
  if (subKey[0] == '\\') Fail(ERROR_BAD_PATHNAME);
  const char* start = subKey;
  for (;;) {
    const char* end = std::strchr(start, '\\');
    const size_t length = end == nullptr ? std::strlen(start) : static_cast<size_t>(end - start);
    if (length == 0) Fail(ERROR_BAD_PATHNAME);
    if (length > kMaxKeyNameLength) Fail(ERROR_INVALID_PARAMETER);
    names.emplace_back(start, length);
    if (end == nullptr || end[1] == '\0') break;
    start = end + 1;
  }
  return names;
}

bool KeyAlive(sqlite3* db, int64_t id, DWORD fallback) {
  Query query(db, "SELECT 1 FROM keys WHERE id = ?1", fallback);
  query.Bind(1, id);
  return query.Step();
}

// Follows `names` down from the key `id`: the last key's id, or 0 when one of them is missing.
int64_t Walk(sqlite3* db, int64_t id, const std::vector<std::string>& names, DWORD fallback) {
  if (names.empty()) return id;
  Query query(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2", fallback);
  for (const std::string& name : names) {
    query.Reset();
    query.Bind(1, id).Bind(2, name);
    if (!query.Step()) return 0;
    id = query.Number(0);
  }
  return id;
}

int64_t Now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100 +
         kFiletimeUnixEpoch;
}

// Records that the key `id` changed now.
void Touch(sqlite3* db, int64_t id) {
  Query query(db, "UPDATE keys SET written = ?2 WHERE id = ?1", ERROR_CANTWRITE);
  query.Bind(1, id).Bind(2, Now());
  query.Step();
}

// The key that `names` lead to from `base`, read in a snapshot of the store. Fails with
// ERROR_KEY_DELETED when the base key is gone and ERROR_FILE_NOT_FOUND when the path is missing.
int64_t Locate(Registry& registry, const Target& base, const std::vector<std::string>& names) {
  sqlite3* db = registry.connection.ForRead(base.root);
  if (db == nullptr) {
    if (!base.IsRoot()) Fail(ERROR_KEY_DELETED);
    if (!names.empty()) Fail(ERROR_FILE_NOT_FOUND);
    return base.id;
  }
  Transaction read(db, false);
  if (!base.IsRoot() && !KeyAlive(db, base.id, ERROR_CANTREAD)) Fail(ERROR_KEY_DELETED);
  const int64_t id = Walk(db, base.id, names, ERROR_CANTREAD);
  if (id == 0) Fail(ERROR_FILE_NOT_FOUND);
  return id;
}

// Copies data out with Windows' sizing rules: no buffer reports the size needed; a buffer too
// small gives ERROR_MORE_DATA and the size needed.
LSTATUS CopyData(const void* source, DWORD size, LPBYTE data, LPDWORD dataSize) {
  if (data != nullptr) {
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    if (size > 0) std::memcpy(data, source, size);
  }
  if (dataSize != nullptr) *dataSize = size;
  return ERROR_SUCCESS;
}

// Copies a name into a character buffer of *size characters, terminated. A name that does not
// fit gives ERROR_MORE_DATA and leaves the buffer and *size alone.
bool CopyName(const std::string& name, LPSTR buffer, LPDWORD size) {
  if (*size <= name.size()) return false;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return true;
}

void SetFiletime(PFILETIME time, int64_t ticks) {
  if (time == nullptr) return;
  time->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

// Runs the body of a registry function and turns its failures into the code it returns.
template <typename Body>
LSTATUS Guarded(Body body) noexcept {
  try {
    Registry& registry = State();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return body(registry);
  } catch (const Failure& failure) {
    return static_cast<LSTATUS>(failure.code);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_REGISTRY_IO_FAILED;
  }
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  (void)options;  // REG_OPTION_OPEN_LINK: the store has no symbolic links
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target base = Resolve(registry, root);
    const std::vector<std::string> names = SplitKeyPath(subKey);
    const int64_t id = Locate(registry, base, names);
    const REGSAM granted = Granted(access, base.root);
    if ((granted & kWriteRights) != 0 && !CanWrite(base.root)) Fail(ERROR_ACCESS_DENIED);
    *result = AddKey(registry, base.root, id, granted);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES attributes,
                               PHKEY result, LPDWORD disposition) {
  (void)reserved;
  (void)options;     // volatile keys are kept like the others
  (void)attributes;  // the store's permissions are the folder's
  if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target base = Resolve(registry, root);
    const std::vector<std::string> names = SplitKeyPath(subKey);
    const REGSAM granted = Granted(access, base.root);

    // Opening an existing key needs no write access to the store.
    int64_t id = 0;
    if (sqlite3* db = registry.connection.ForRead(base.root); db != nullptr) {
      Transaction read(db, false);
      if (!base.IsRoot() && !KeyAlive(db, base.id, ERROR_CANTREAD)) Fail(ERROR_KEY_DELETED);
      id = Walk(db, base.id, names, ERROR_CANTREAD);
    } else if (!base.IsRoot()) {
      Fail(ERROR_KEY_DELETED);
    } else if (names.empty()) {
      id = base.id;
    }

    DWORD outcome = REG_OPENED_EXISTING_KEY;
    if (id == 0) {
      if ((base.access & KEY_CREATE_SUB_KEY) == 0) Fail(ERROR_ACCESS_DENIED);
      sqlite3* db = registry.connection.ForWrite(base.root);
      Transaction write(db, true);
      if (!base.IsRoot() && !KeyAlive(db, base.id, ERROR_CANTWRITE)) Fail(ERROR_KEY_DELETED);
      // Another process may have made part of the path since it was read: walk it again.
      Query find(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2", ERROR_CANTWRITE);
      Query insert(db, "INSERT INTO keys (parent, name, class, written) VALUES (?1, ?2, ?3, ?4)",
                   ERROR_CANTWRITE);
      const std::string className = keyClass != nullptr ? keyClass : "";
      id = base.id;
      for (size_t i = 0; i < names.size(); ++i) {
        find.Reset();
        find.Bind(1, id).Bind(2, names[i]);
        if (find.Step()) {
          id = find.Number(0);
          continue;
        }
        // The class belongs to the key the caller named; keys made on the way get none.
        const bool last = i + 1 == names.size();
        insert.Reset();
        insert.Bind(1, id)
            .Bind(2, names[i])
            .Bind(3, last ? className : std::string())
            .Bind(4, Now());
        insert.Step();
        Touch(db, id);
        id = sqlite3_last_insert_rowid(db);
        outcome = REG_CREATED_NEW_KEY;
      }
      write.Commit();
    }

    if ((granted & kWriteRights) != 0 && !CanWrite(base.root)) Fail(ERROR_ACCESS_DENIED);
    *result = AddKey(registry, base.root, id, granted);
    if (disposition != nullptr) *disposition = outcome;
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize) {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target target = Resolve(registry, key);
    if ((target.access & KEY_QUERY_VALUE) == 0) Fail(ERROR_ACCESS_DENIED);
    sqlite3* db = registry.connection.ForRead(target.root);
    if (db == nullptr) Fail(target.IsRoot() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED);

    Transaction read(db, false);
    Query query(db, "SELECT type, data FROM key_values WHERE key = ?1 AND name = ?2",
                ERROR_CANTREAD);
    query.Bind(1, target.id).Bind(2, std::string(valueName != nullptr ? valueName : ""));
    if (!query.Step()) {
      Fail(KeyAlive(db, target.id, ERROR_CANTREAD) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED);
    }
    if (type != nullptr) *type = static_cast<DWORD>(query.Number(0));
    return CopyData(query.Blob(1), query.BlobSize(1), data, dataSize);
  });
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD dataSize) {
  (void)reserved;
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target target = Resolve(registry, key);
    if ((target.access & KEY_SET_VALUE) == 0) Fail(ERROR_ACCESS_DENIED);
    const std::string name = valueName != nullptr ? valueName : "";
    if (name.size() > kMaxValueNameLength) Fail(ERROR_INVALID_PARAMETER);

    sqlite3* db = registry.connection.ForWrite(target.root);
    Transaction write(db, true);
    if (!KeyAlive(db, target.id, ERROR_CANTWRITE)) Fail(ERROR_KEY_DELETED);
    // A value set again keeps its place in the enumeration and the case of its first name.
    Query upsert(db,
                 "INSERT INTO key_values (key, name, type, data) VALUES (?1, ?2, ?3, ?4) "
                 "ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, data = excluded.data",
                 ERROR_CANTWRITE);
    upsert.Bind(1, target.id).Bind(2, name).Bind(3, static_cast<int64_t>(type));
    upsert.BindBlob(4, data, dataSize);
    upsert.Step();
    Touch(db, target.id);
    write.Commit();
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target target = Resolve(registry, key);
    if ((target.access & KEY_SET_VALUE) == 0) Fail(ERROR_ACCESS_DENIED);
    sqlite3* db = registry.connection.ForWrite(target.root);
    Transaction write(db, true);
    if (!KeyAlive(db, target.id, ERROR_CANTWRITE)) Fail(ERROR_KEY_DELETED);
    Query remove(db, "DELETE FROM key_values WHERE key = ?1 AND name = ?2", ERROR_CANTWRITE);
    remove.Bind(1, target.id).Bind(2, std::string(valueName != nullptr ? valueName : ""));
    remove.Step();
    if (sqlite3_changes(db) == 0) Fail(ERROR_FILE_NOT_FOUND);
    Touch(db, target.id);
    write.Commit();
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&](Registry& registry) -> LSTATUS {
    // The handle's own access rights play no part: deleting is decided by the key's security,
    // which here is whether the store may be written.
    const Target base = Resolve(registry, root);
    const std::vector<std::string> names = SplitKeyPath(subKey);
    if (IsPredefinedRow(Locate(registry, base, names))) Fail(ERROR_ACCESS_DENIED);

    sqlite3* db = registry.connection.ForWrite(base.root);
    Transaction write(db, true);
    if (!base.IsRoot() && !KeyAlive(db, base.id, ERROR_CANTWRITE)) Fail(ERROR_KEY_DELETED);
    const int64_t id = Walk(db, base.id, names, ERROR_CANTWRITE);
    if (id == 0) Fail(ERROR_FILE_NOT_FOUND);

    Query children(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1", ERROR_CANTWRITE);
    children.Bind(1, id);
    if (children.Step()) Fail(ERROR_ACCESS_DENIED);

    Query parent(db, "SELECT parent FROM keys WHERE id = ?1", ERROR_CANTWRITE);
    parent.Bind(1, id);
    const int64_t parentId = parent.Step() ? parent.Number(0) : 0;
    Query values(db, "DELETE FROM key_values WHERE key = ?1", ERROR_CANTWRITE);
    values.Bind(1, id);
    values.Step();
    Query remove(db, "DELETE FROM keys WHERE id = ?1", ERROR_CANTWRITE);
    remove.Bind(1, id);
    remove.Step();
    if (parentId != 0) Touch(db, parentId);
    write.Commit();
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime) {
  if (name == nullptr || nameSize == nullptr || reserved != nullptr ||
      (keyClass != nullptr && classSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target target = Resolve(registry, key);
    if ((target.access & KEY_ENUMERATE_SUB_KEYS) == 0) Fail(ERROR_ACCESS_DENIED);
    sqlite3* db = registry.connection.ForRead(target.root);
    if (db == nullptr) Fail(target.IsRoot() ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED);

    Transaction read(db, false);
    Query query(db,
                "SELECT name, class, written FROM keys WHERE parent = ?1 "
                "ORDER BY name COLLATE WINCASE, id LIMIT 1 OFFSET ?2",
                ERROR_CANTREAD);
    query.Bind(1, target.id).Bind(2, static_cast<int64_t>(index));
    if (!query.Step()) {
      Fail(KeyAlive(db, target.id, ERROR_CANTREAD) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED);
    }
    const std::string subkeyName = query.Text(0);
    const std::string subkeyClass = query.Text(1);
    if (*nameSize <= subkeyName.size()) return ERROR_MORE_DATA;
    if (keyClass != nullptr && *classSize <= subkeyClass.size()) return ERROR_MORE_DATA;
    CopyName(subkeyName, name, nameSize);
    if (keyClass != nullptr) {
      CopyName(subkeyClass, keyClass, classSize);
    } else if (classSize != nullptr) {
      *classSize = static_cast<DWORD>(subkeyClass.size());
    }
    SetFiletime(lastWriteTime, query.Number(2));
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                             LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (valueName == nullptr || valueNameSize == nullptr || reserved != nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target target = Resolve(registry, key);
    if ((target.access & KEY_QUERY_VALUE) == 0) Fail(ERROR_ACCESS_DENIED);
    sqlite3* db = registry.connection.ForRead(target.root);
    if (db == nullptr) Fail(target.IsRoot() ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED);

    Transaction read(db, false);
    Query query(db,
                "SELECT name, type, data FROM key_values WHERE key = ?1 "
                "ORDER BY id LIMIT 1 OFFSET ?2",
                ERROR_CANTREAD);
    query.Bind(1, target.id).Bind(2, static_cast<int64_t>(index));
    if (!query.Step()) {
      Fail(KeyAlive(db, target.id, ERROR_CANTREAD) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED);
    }
    if (!CopyName(query.Text(0), valueName, valueNameSize)) return ERROR_MORE_DATA;
    if (type != nullptr) *type = static_cast<DWORD>(query.Number(1));
    return CopyData(query.Blob(2), query.BlobSize(2), data, dataSize);
  });
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen,
                                LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                                LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
  if (reserved != nullptr || (keyClass != nullptr && classSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&](Registry& registry) -> LSTATUS {
    const Target target = Resolve(registry, key);
    if ((target.access & KEY_QUERY_VALUE) == 0) Fail(ERROR_ACCESS_DENIED);

    std::string className;
    int64_t written = 0;
    int64_t counts[6] = {};  // subkeys, longest subkey name, longest class, values, longest
                             // value name, largest data
    sqlite3* db = registry.connection.ForRead(target.root);
    if (db == nullptr) {
      if (!target.IsRoot()) Fail(ERROR_KEY_DELETED);
    } else {
      Transaction read(db, false);
      Query self(db, "SELECT class, written FROM keys WHERE id = ?1", ERROR_CANTREAD);
      self.Bind(1, target.id);
      if (!self.Step()) Fail(ERROR_KEY_DELETED);
      className = self.Text(0);
      written = self.Number(1);

      Query keys(db,
                 "SELECT COUNT(*), COALESCE(MAX(LENGTH(CAST(name AS BLOB))), 0),"
                 " COALESCE(MAX(LENGTH(CAST(class AS BLOB))), 0) FROM keys WHERE parent = ?1",
                 ERROR_CANTREAD);
      keys.Bind(1, target.id);
      if (keys.Step()) {
        for (int i = 0; i < 3; ++i) counts[i] = keys.Number(i);
      }
      Query entries(db,
                    "SELECT COUNT(*), COALESCE(MAX(LENGTH(CAST(name AS BLOB))), 0),"
                    " COALESCE(MAX(LENGTH(data)), 0) FROM key_values WHERE key = ?1",
                    ERROR_CANTREAD);
      entries.Bind(1, target.id);
      if (entries.Step()) {
        for (int i = 0; i < 3; ++i) counts[3 + i] = entries.Number(i);
      }
    }

    LPDWORD outputs[6] = {subKeys, maxSubKeyLen, maxClassLen, values, maxValueNameLen, maxValueLen};
    for (int i = 0; i < 6; ++i) {
      if (outputs[i] != nullptr) *outputs[i] = static_cast<DWORD>(counts[i]);
    }
    if (securityDescriptorSize != nullptr) *securityDescriptorSize = 0;
    SetFiletime(lastWriteTime, written);

    if (keyClass != nullptr) {
      if (!CopyName(className, keyClass, classSize)) {
        *classSize = static_cast<DWORD>(className.size());
        return ERROR_MORE_DATA;
      }
    } else if (classSize != nullptr) {
      *classSize = static_cast<DWORD>(className.size());
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  // Closing a predefined key is allowed and changes nothing.
  if (PredefinedRow(key) != 0) return ERROR_SUCCESS;
  return Guarded([&](Registry& registry) -> LSTATUS {
    if (registry.keys.erase(key) == 0) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
  });
}
