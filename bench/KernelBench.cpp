// The reference kernel through the native face, with 100,000 records keyed
// by number (COMPETITORS) and 100,000 keyed by text (GLOBALS Parameters),
// each operation beside the same work in SQLite and LMDB and beside a floor,
// all in the same run:
//
//   Add        every record added and its fields written, into an empty
//              store. SQLite: prepared INSERTs in one transaction; LMDB: puts
//              in one write transaction; floor: std::unordered_map inserts
//              of the kernel's own records.
//   Find       one record found by key and a field read, keys in shuffled
//              order. SQLite: a prepared SELECT; LMDB: mdb_get (both in one
//              read transaction); floor: std::unordered_map::find.
//              Independent lookups overlap their cache misses in the
//              processor, the more the shorter each lookup's code is.
//   FindChained the same, each key chosen by the answer before, so that
//              lookups cannot overlap: what one lookup on its own costs.
//   Enumerate  every record visited in order and a field read. SQLite: a
//              prepared SELECT over the table; LMDB: a cursor walk; floor: a
//              std::vector of the same records walked. EnumerateLinked (floor
//              only): the records in the kernel's node layout, walked by
//              their next links and nothing else.
//   Save       the whole store written to a new file on disk and made
//              durable (file and directory fsync). SQLite: VACUUM INTO;
//              LMDB: mdb_env_copyfd2; floor: write() and fsync() of as many
//              bytes as the kernel's saved file has.
//   Remove     (kernel only) every record removed by its key, one at a
//              time, from a full store.
//   WriteNames (kernel only) every record's name emptied and written again:
//              two string resizes in the kernel (free, then allocate) and
//              the text copied in.
//   Open       a saved file made ready for use. Kernel: checked and loaded
//              into live storage; SQLite: copied into a memory database
//              with the backup interface; LMDB: the environment opened and
//              one record read (LMDB maps its file and reads pages only
//              when touched); floor: read() of the kernel's saved file.
//
// Live storage (the kernel's segments, the SQLite and LMDB databases that
// Add fills) lies on /dev/shm, where the kernel keeps it by default; saved
// files lie on disk, in a directory below TMPDIR. Neither SQLite nor LMDB
// syncs while adding: durability is the job of Save, as for the kernel.
// Numeric keys rise in insertion order (as ids are handed out); text keys
// ("Param.<i>") do not.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lmdb.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "bench/BenchKernel.h"
#include "templates/Varnox.h"

namespace {

constexpr uint32_t kRecords = 100000;

using varnox_bench::Scratch;
using varnox_bench::UseKernel;

// fsync of a file by name and of its directory: what makes a new file durable.
bool SyncFileAndDirectory(const std::string& csPath) {
  const int iFd = open(csPath.c_str(), O_RDONLY | O_CLOEXEC);
  bool bOk = iFd >= 0 && fsync(iFd) == 0;
  if (iFd >= 0) close(iFd);
  const int iDir =
      open(std::filesystem::path(csPath).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bOk = bOk && iDir >= 0 && fsync(iDir) == 0;
  if (iDir >= 0) close(iDir);
  return bOk;
}

uint64_t FileBytes(const std::string& csPath) {
  std::error_code ec;
  const uintmax_t uiBytes = std::filesystem::file_size(csPath, ec);
  return ec ? 0 : uiBytes;
}

// ---------------------------------------------------------------------------
// The records: keys and values of record i, and the order of lookups.

struct Records {
  Records() {
    for (uint32_t i = 0; i < kRecords; ++i) {
      numbers.push_back(1000 + 7 * uint64_t{i});
      texts.push_back("Param." + std::to_string(i));
      names8.push_back("Competitor " + std::to_string(i));
      names16.emplace_back(names8.back().begin(), names8.back().end());
      values8.push_back("Value " + std::to_string(i * 13));
      values16.emplace_back(values8.back().begin(), values8.back().end());
      order.push_back(i);
    }
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    for (const uint32_t i : order) {
      lookupNumbers.push_back(numbers[i]);
      lookupTexts.push_back(texts[i]);
    }
  }
  std::vector<uint64_t> numbers;
  std::vector<std::string> texts;
  std::vector<std::string> names8;
  std::vector<std::u16string> names16;
  std::vector<std::string> values8;
  std::vector<std::u16string> values16;
  std::vector<uint32_t> order;
  // The keys of the lookups, in lookup order: Find reads its keys in
  // sequence, so that only the store's own accesses are random and the
  // figure does not depend on where the heap placed the keys.
  std::vector<uint64_t> lookupNumbers;
  std::vector<std::string> lookupTexts;
};

const Records& Data() {
  static const Records records;
  return records;
}

int32_t CategoryOf(uint32_t i) { return static_cast<int32_t>(i % 64); }

// ---------------------------------------------------------------------------
// The kernel, through the native face.

// Starts the kernel before the file template of a store asks it for
// interfaces.
struct KernelStarted {
  KernelStarted() { UseKernel(); }
};

template <class File>
class KernelStore : KernelStarted {
 public:
  virtual ~KernelStore() = default;
  KernelStore(const KernelStore&) = delete;
  KernelStore& operator=(const KernelStore&) = delete;

  virtual void Clear() = 0;
  virtual void Fill() = 0;
  explicit KernelStore(const char* csName)
      : m_csPath(Scratch().csFiles + "/" + csName + ".orb"),
        m_csCopy(Scratch().csFiles + "/" + csName + "-copy.orb") {
    if (m_File.OpenUnm(m_csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0,
                       nullptr) <= 0) {
      std::fprintf(stderr, "varnox bench: cannot create %s\n", m_csPath.c_str());
      std::exit(1);
    }
  }
  void EnsureFilled() {
    if (!m_bFilled) {
      Clear();
      Fill();
    }
  }
  bool Save() { return m_File.Save(0, true, ""); }
  void BeforeSave() {}
  uint64_t SavedBytes() const { return FileBytes(m_csPath); }
  // The file Open reads: a saved copy that no file object has open (an open
  // path would only be attached to).
  const std::string& EnsureCopy() {
    if (FileBytes(m_csCopy) == 0) {
      EnsureFilled();
      m_File.Save(0, false, m_csCopy);
    }
    return m_csCopy;
  }
  void BeginReading() {}
  void EndReading() {}
  void PrepareOpen() { EnsureCopy(); }
  bool Open() {
    m_pOpened = std::make_unique<File>();
    return m_pOpened->OpenUnm(m_csCopy.c_str(), nullptr, nullptr, "r", "", false, nullptr, 0, 0,
                              nullptr) > 0;
  }
  void Close() {
    if (m_pOpened) m_pOpened->UnLoad();
    m_pOpened.reset();
  }

 protected:
  File m_File;
  bool m_bFilled = false;
  std::string m_csPath;
  std::string m_csCopy;
  std::unique_ptr<File> m_pOpened;
};

class KernelNumbers : public KernelStore<CkxVarnoxFT_COMPETITORS> {
 public:
  static KernelNumbers& Get() {
    static KernelNumbers store;
    return store;
  }
  KernelNumbers() : KernelStore("competitors") {}
  void Clear() override {
    Map()(D2MapCmd::RemoveAll, 0, nullptr);
    m_bFilled = false;
  }
  void Fill() override {
    const Records& data = Data();
    auto& map = Map();
    map.GetARLock();
    for (uint32_t i = 0; i < kRecords; ++i) {
      CkxCompetitor& swimmer = map[map(D2MapCmd::Add, data.numbers[i], nullptr)];
      swimmer.CategoryId = CategoryOf(i);
      swimmer.CompetitorId = static_cast<int32_t>(i);
      const std::u16string& csName = data.names16[i];
      swimmer.Name.ReserveNet(static_cast<int>(csName.size()));
      swimmer.Name.SetNet(csName.data(), static_cast<int>(csName.size()));
    }
    map.ReleaseARLock();
    m_bFilled = true;
  }
  int64_t Find(uint32_t i) {
    auto& map = Map();
    return map[map(D2MapCmd::Find, Data().lookupNumbers[i], nullptr)].CategoryId;
  }
  void RemoveEach() {
    const Records& data = Data();
    auto& map = Map();
    map.GetARLock();
    for (uint32_t i = 0; i < kRecords; ++i) map(D2MapCmd::Remove, data.numbers[i], nullptr);
    map.ReleaseARLock();
    m_bFilled = false;
  }
  void WriteNames() {
    const Records& data = Data();
    auto& map = Map();
    map.GetARLock();
    for (uint32_t i = 0; i < kRecords; ++i) {
      const uint32_t uiHandle = map(D2MapCmd::Find, data.numbers[i], nullptr);
      const std::u16string& csName = data.names16[i];
      map[uiHandle].Name.ReserveNet(0);
      map[uiHandle].Name.ReserveNet(static_cast<int>(csName.size()));
      map[uiHandle].Name.SetNet(csName.data(), static_cast<int>(csName.size()));
    }
    map.ReleaseARLock();
  }
  int64_t Walk() {
    auto& map = Map();
    int64_t liSum = 0;
    map.GetRWELock();
    for (uint32_t h = map(D2MapCmd::Head, 0, nullptr); h != 0;
         h = map(D2MapCmd::Next, h, nullptr)) {
      liSum += map[h].CategoryId;
    }
    map.ReleaseRWELock();
    return liSum;
  }

 private:
  CkxD2MapObjA<CkxCompetitor>& Map() { return m_File.m_CompetitorsStringMap.m_Container; }
};

class KernelTexts : public KernelStore<CkxVarnoxFT_GLOBALS> {
 public:
  static KernelTexts& Get() {
    static KernelTexts store;
    return store;
  }
  KernelTexts() : KernelStore("globals") {}
  void Clear() override {
    Map()(D2MapCmd::RemoveAll, 0, nullptr);
    m_bFilled = false;
  }
  void Fill() override {
    const Records& data = Data();
    auto& map = Map();
    map.GetARLock();
    for (uint32_t i = 0; i < kRecords; ++i) {
      CkxSetupParam& parameter = map[map(D2MapCmd::Add, 0, data.texts[i].c_str())];
      const std::u16string& csValue = data.values16[i];
      parameter.Value.ReserveNet(static_cast<int>(csValue.size()));
      parameter.Value.SetNet(csValue.data(), static_cast<int>(csValue.size()));
    }
    map.ReleaseARLock();
    m_bFilled = true;
  }
  int64_t Find(uint32_t i) {
    auto& map = Map();
    int iLength = 0;
    map[map(D2MapCmd::Find, 0, Data().lookupTexts[i].c_str())].Value.GetNet(&iLength);
    return iLength;
  }
  int64_t Walk() {
    auto& map = Map();
    int64_t liSum = 0;
    map.GetRWELock();
    for (uint32_t h = map(D2MapCmd::Head, 0, nullptr); h != 0;
         h = map(D2MapCmd::Next, h, nullptr)) {
      int iLength = 0;
      map[h].Value.GetNet(&iLength);
      liSum += iLength;
    }
    map.ReleaseRWELock();
    return liSum;
  }

 private:
  CkxD2MapObjA<CkxSetupParam>& Map() { return m_File.m_Parameters.m_Container; }
};

// ---------------------------------------------------------------------------
// SQLite: a database file in live storage, synchronous=OFF.

class SqliteStore {
 public:
  // `csTable` is the name of the table `csCreate` creates.
  SqliteStore(const char* csTable, const char* csCreate, const char* csInsert, const char* csFind,
              const char* csWalk)
      : m_csLive(Scratch().csLive + "/" + csTable + ".sqlite"),
        m_csSaved(Scratch().csFiles + "/" + csTable + ".sqlite"),
        m_csTable(csTable) {
    if (sqlite3_open(m_csLive.c_str(), &m_pDb) != SQLITE_OK) Fail("open");
    Exec("PRAGMA synchronous=OFF");
    Exec(csCreate);
    Prepare(csInsert, &m_pInsert);
    Prepare(csFind, &m_pFind);
    Prepare(csWalk, &m_pWalk);
  }
  virtual ~SqliteStore() {
    for (sqlite3_stmt* p : {m_pInsert, m_pFind, m_pWalk}) sqlite3_finalize(p);
    sqlite3_close(m_pDb);
  }
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  void Clear() {
    Exec(("DELETE FROM " + m_csTable).c_str());
    m_bFilled = false;
  }
  void EnsureFilled() {
    if (!m_bFilled) {
      Clear();
      Fill();
    }
  }
  void Fill() {
    Exec("BEGIN");
    for (uint32_t i = 0; i < kRecords; ++i) {
      Bind(m_pInsert, i);
      if (sqlite3_step(m_pInsert) != SQLITE_DONE) Fail("insert");
      sqlite3_reset(m_pInsert);
    }
    Exec("COMMIT");
    m_bFilled = true;
  }
  int64_t Walk() {
    int64_t liSum = 0;
    while (sqlite3_step(m_pWalk) == SQLITE_ROW) liSum += Field(m_pWalk);
    sqlite3_reset(m_pWalk);
    return liSum;
  }
  int64_t Find(uint32_t i) {
    BindLookup(m_pFind, i);
    const int64_t liField = sqlite3_step(m_pFind) == SQLITE_ROW ? Field(m_pFind) : -1;
    sqlite3_reset(m_pFind);
    return liField;
  }
  void BeginReading() { Exec("BEGIN"); }
  void EndReading() { Exec("COMMIT"); }
  void BeforeSave() { std::filesystem::remove(m_csSaved); }
  bool Save() {
    Exec(("VACUUM INTO '" + m_csSaved + "'").c_str());
    return SyncFileAndDirectory(m_csSaved);
  }
  uint64_t SavedBytes() const { return FileBytes(m_csSaved); }
  void PrepareOpen() {
    if (FileBytes(m_csSaved) != 0) return;
    EnsureFilled();
    BeforeSave();
    Save();
  }
  bool Open() {
    sqlite3* pSaved = nullptr;
    bool bOk =
        sqlite3_open_v2(m_csSaved.c_str(), &pSaved, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_open(":memory:", &m_pOpened) == SQLITE_OK;
    sqlite3_backup* pBackup =
        bOk ? sqlite3_backup_init(m_pOpened, "main", pSaved, "main") : nullptr;
    bOk = pBackup != nullptr && sqlite3_backup_step(pBackup, -1) == SQLITE_DONE;
    sqlite3_backup_finish(pBackup);
    sqlite3_close(pSaved);
    return bOk;
  }
  void Close() {
    sqlite3_close(m_pOpened);
    m_pOpened = nullptr;
  }

 protected:
  virtual void BindKey(sqlite3_stmt* pStatement, uint32_t i) = 0;
  // Binds the key of lookup i (Records::lookupNumbers or lookupTexts).
  virtual void BindLookup(sqlite3_stmt* pStatement, uint32_t i) = 0;
  virtual void Bind(sqlite3_stmt* pStatement, uint32_t i) = 0;
  virtual int64_t Field(sqlite3_stmt* pStatement) = 0;

  [[noreturn]] void Fail(const char* csWhat) {
    std::fprintf(stderr, "varnox bench: SQLite %s: %s\n", csWhat, sqlite3_errmsg(m_pDb));
    std::exit(1);
  }
  void Exec(const char* csSql) {
    if (sqlite3_exec(m_pDb, csSql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(csSql);
  }
  void Prepare(const char* csSql, sqlite3_stmt** ppStatement) {
    if (sqlite3_prepare_v2(m_pDb, csSql, -1, ppStatement, nullptr) != SQLITE_OK) Fail(csSql);
  }

 private:
  sqlite3* m_pDb = nullptr;
  sqlite3* m_pOpened = nullptr;
  sqlite3_stmt* m_pInsert = nullptr;
  sqlite3_stmt* m_pFind = nullptr;
  sqlite3_stmt* m_pWalk = nullptr;
  std::string m_csLive;
  std::string m_csSaved;
  std::string m_csTable;
  bool m_bFilled = false;
};

class SqliteNumbers : public SqliteStore {
 public:
  static SqliteNumbers& Get() {
    static SqliteNumbers store;
    return store;
  }
  SqliteNumbers()
      : SqliteStore("competitors",
                    "CREATE TABLE competitors(id INTEGER PRIMARY KEY, category INTEGER, competitor "
                    "INTEGER, name TEXT)",
                    "INSERT INTO competitors VALUES (?1, ?2, ?3, ?4)",
                    "SELECT category FROM competitors WHERE id = ?1",
                    "SELECT category FROM competitors") {}

 protected:
  void BindKey(sqlite3_stmt* pStatement, uint32_t i) override {
    sqlite3_bind_int64(pStatement, 1, static_cast<sqlite3_int64>(Data().numbers[i]));
  }
  void BindLookup(sqlite3_stmt* pStatement, uint32_t i) override {
    sqlite3_bind_int64(pStatement, 1, static_cast<sqlite3_int64>(Data().lookupNumbers[i]));
  }
  void Bind(sqlite3_stmt* pStatement, uint32_t i) override {
    BindKey(pStatement, i);
    sqlite3_bind_int(pStatement, 2, CategoryOf(i));
    sqlite3_bind_int(pStatement, 3, static_cast<int>(i));
    sqlite3_bind_text(pStatement, 4, Data().names8[i].data(),
                      static_cast<int>(Data().names8[i].size()), SQLITE_STATIC);
  }
  int64_t Field(sqlite3_stmt* pStatement) override { return sqlite3_column_int(pStatement, 0); }
};

class SqliteTexts : public SqliteStore {
 public:
  static SqliteTexts& Get() {
    static SqliteTexts store;
    return store;
  }
  SqliteTexts()
      : SqliteStore("parameters",
                    "CREATE TABLE parameters(name TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID",
                    "INSERT INTO parameters VALUES (?1, ?2)",
                    "SELECT value FROM parameters WHERE name = ?1",
                    "SELECT value FROM parameters") {}

 protected:
  void BindKey(sqlite3_stmt* pStatement, uint32_t i) override {
    BindText(pStatement, Data().texts[i]);
  }
  void BindLookup(sqlite3_stmt* pStatement, uint32_t i) override {
    BindText(pStatement, Data().lookupTexts[i]);
  }
  static void BindText(sqlite3_stmt* pStatement, const std::string& csKey) {
    sqlite3_bind_text(pStatement, 1, csKey.data(), static_cast<int>(csKey.size()), SQLITE_STATIC);
  }
  void Bind(sqlite3_stmt* pStatement, uint32_t i) override {
    BindKey(pStatement, i);
    sqlite3_bind_text(pStatement, 2, Data().values8[i].data(),
                      static_cast<int>(Data().values8[i].size()), SQLITE_STATIC);
  }
  int64_t Field(sqlite3_stmt* pStatement) override { return sqlite3_column_bytes(pStatement, 0); }
};

// ---------------------------------------------------------------------------
// LMDB: an environment file in live storage, MDB_NOSYNC.

class LmdbStore {
 public:
  LmdbStore(const char* csName, unsigned int uiDbFlags)
      : m_csLive(Scratch().csLive + "/" + csName + ".lmdb"),
        m_csSaved(Scratch().csFiles + "/" + csName + ".lmdb"),
        m_uiDbFlags(uiDbFlags) {
    m_pEnv = OpenEnv(m_csLive, MDB_NOSUBDIR | MDB_NOSYNC);
    MDB_txn* pTxn = Begin(0);
    Check(mdb_dbi_open(pTxn, nullptr, m_uiDbFlags | MDB_CREATE, &m_Dbi), "dbi_open");
    Check(mdb_txn_commit(pTxn), "commit");
  }
  virtual ~LmdbStore() {
    if (m_pEnv != nullptr) mdb_env_close(m_pEnv);
  }
  LmdbStore(const LmdbStore&) = delete;
  LmdbStore& operator=(const LmdbStore&) = delete;

  void Clear() {
    MDB_txn* pTxn = Begin(0);
    Check(mdb_drop(pTxn, m_Dbi, 0), "drop");
    Check(mdb_txn_commit(pTxn), "commit");
    m_bFilled = false;
  }
  void EnsureFilled() {
    if (!m_bFilled) {
      Clear();
      Fill();
    }
  }
  void Fill() {
    MDB_txn* pTxn = Begin(0);
    std::string csValue;
    for (uint32_t i = 0; i < kRecords; ++i) {
      MDB_val key = Key(i);
      Value(i, csValue);
      MDB_val value{csValue.size(), csValue.data()};
      Check(mdb_put(pTxn, m_Dbi, &key, &value, 0), "put");
    }
    Check(mdb_txn_commit(pTxn), "commit");
    m_bFilled = true;
  }
  // Find and Walk read in one read transaction, begun by the benchmark.
  void BeginReading() { m_pRead = Begin(MDB_RDONLY); }
  void EndReading() {
    mdb_txn_abort(m_pRead);
    m_pRead = nullptr;
  }
  int64_t Find(uint32_t i) {
    MDB_val key = LookupKey(i);
    MDB_val value;
    return mdb_get(m_pRead, m_Dbi, &key, &value) == MDB_SUCCESS ? Field(value) : -1;
  }
  int64_t Walk() {
    MDB_cursor* pCursor = nullptr;
    Check(mdb_cursor_open(m_pRead, m_Dbi, &pCursor), "cursor");
    int64_t liSum = 0;
    MDB_val key;
    MDB_val value;
    for (int iOp = MDB_FIRST;
         mdb_cursor_get(pCursor, &key, &value, static_cast<MDB_cursor_op>(iOp)) == MDB_SUCCESS;
         iOp = MDB_NEXT) {
      liSum += Field(value);
    }
    mdb_cursor_close(pCursor);
    return liSum;
  }
  void BeforeSave() { std::filesystem::remove(m_csSaved); }
  bool Save() {
    const int iFd = open(m_csSaved.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (iFd < 0) return false;
    const bool bCopied = mdb_env_copyfd2(m_pEnv, iFd, 0) == MDB_SUCCESS;
    close(iFd);
    return bCopied && SyncFileAndDirectory(m_csSaved);
  }
  uint64_t SavedBytes() const { return FileBytes(m_csSaved); }
  void PrepareOpen() {
    if (FileBytes(m_csSaved) != 0) return;
    EnsureFilled();
    Save();
  }
  bool Open() {
    m_pOpened = OpenEnv(m_csSaved, MDB_NOSUBDIR | MDB_RDONLY | MDB_NOLOCK);
    MDB_txn* pTxn = nullptr;
    MDB_dbi dbi = 0;
    MDB_val key = Key(Data().order[0]);
    MDB_val value;
    const bool bOk = mdb_txn_begin(m_pOpened, nullptr, MDB_RDONLY, &pTxn) == MDB_SUCCESS &&
                     mdb_dbi_open(pTxn, nullptr, m_uiDbFlags, &dbi) == MDB_SUCCESS &&
                     mdb_get(pTxn, dbi, &key, &value) == MDB_SUCCESS;
    if (pTxn != nullptr) mdb_txn_abort(pTxn);
    return bOk;
  }
  void Close() {
    mdb_env_close(m_pOpened);
    m_pOpened = nullptr;
  }

 protected:
  virtual MDB_val Key(uint32_t i) = 0;
  // The key of lookup i (Records::lookupNumbers or lookupTexts).
  virtual MDB_val LookupKey(uint32_t i) = 0;
  virtual void Value(uint32_t i, std::string& csValue) = 0;
  virtual int64_t Field(const MDB_val& value) = 0;

 private:
  static void Check(int iResult, const char* csWhat) {
    if (iResult != MDB_SUCCESS) {
      std::fprintf(stderr, "varnox bench: LMDB %s: %s\n", csWhat, mdb_strerror(iResult));
      std::exit(1);
    }
  }
  static MDB_env* OpenEnv(const std::string& csPath, unsigned int uiFlags) {
    MDB_env* pEnv = nullptr;
    Check(mdb_env_create(&pEnv), "env_create");
    Check(mdb_env_set_mapsize(pEnv, size_t{4} << 30), "set_mapsize");
    Check(mdb_env_open(pEnv, csPath.c_str(), uiFlags, 0644), "env_open");
    return pEnv;
  }
  MDB_txn* Begin(unsigned int uiFlags) {
    MDB_txn* pTxn = nullptr;
    Check(mdb_txn_begin(m_pEnv, nullptr, uiFlags, &pTxn), "txn_begin");
    return pTxn;
  }

  MDB_env* m_pEnv = nullptr;
  MDB_env* m_pOpened = nullptr;
  MDB_txn* m_pRead = nullptr;
  MDB_dbi m_Dbi = 0;
  std::string m_csLive;
  std::string m_csSaved;
  unsigned int m_uiDbFlags;
  bool m_bFilled = false;
};

// Value of a competitor: category and competitor id, then the name.
class LmdbNumbers : public LmdbStore {
 public:
  static LmdbNumbers& Get() {
    static LmdbNumbers store;
    return store;
  }
  LmdbNumbers() : LmdbStore("competitors", MDB_INTEGERKEY) {}

 protected:
  MDB_val Key(uint32_t i) override { return Number(Data().numbers[i]); }
  MDB_val LookupKey(uint32_t i) override { return Number(Data().lookupNumbers[i]); }
  static MDB_val Number(const uint64_t& uiKey) {
    return MDB_val{sizeof uiKey, const_cast<uint64_t*>(&uiKey)};
  }
  void Value(uint32_t i, std::string& csValue) override {
    const int32_t aFields[2] = {CategoryOf(i), static_cast<int32_t>(i)};
    csValue.assign(reinterpret_cast<const char*>(aFields), sizeof aFields);
    csValue += Data().names8[i];
  }
  int64_t Field(const MDB_val& value) override {
    int32_t iCategory = 0;
    std::memcpy(&iCategory, value.mv_data, sizeof iCategory);
    return iCategory;
  }
};

class LmdbTexts : public LmdbStore {
 public:
  static LmdbTexts& Get() {
    static LmdbTexts store;
    return store;
  }
  LmdbTexts() : LmdbStore("parameters", 0) {}

 protected:
  MDB_val Key(uint32_t i) override { return Text(Data().texts[i]); }
  MDB_val LookupKey(uint32_t i) override { return Text(Data().lookupTexts[i]); }
  static MDB_val Text(const std::string& csKey) {
    return MDB_val{csKey.size(), const_cast<char*>(csKey.data())};
  }
  void Value(uint32_t i, std::string& csValue) override { csValue = Data().values8[i]; }
  int64_t Field(const MDB_val& value) override { return static_cast<int64_t>(value.mv_size); }
};

// ---------------------------------------------------------------------------
// Floors: a hash map of the kernel's own records (and the texts they refer
// to) for Add and Find, a vector of them for the walk, and plain write() and
// read() of the kernel's saved bytes.

// The kernel's node layout without the kernel: every record behind its
// 64-byte node header and an 8-byte block header, in one array, walked by
// the nodes' next links. What walking linked nodes of this size costs before
// anything is looked up or checked: the floor of a walk in insertion order.
template <class Record>
class LinkedNodes {
 public:
  template <class SetRecord>
  void Fill(SetRecord setRecord) {
    m_Nodes.assign(kRecords, Node{});
    for (uint32_t i = 0; i < kRecords; ++i) {
      m_Nodes[i].header.nextHandle = i + 1 < kRecords ? i + 1 : 0;
      setRecord(i, m_Nodes[i].record);
    }
  }
  bool Filled() const { return m_Nodes.size() == kRecords; }
  template <class Field>
  int64_t Walk(Field field) const {
    int64_t liSum = 0;
    for (uint32_t i = 0;; i = m_Nodes[i].header.nextHandle) {
      liSum += field(m_Nodes[i].record);
      if (m_Nodes[i].header.nextHandle == 0) return liSum;
    }
  }

 private:
  struct Node {
    uint64_t uiBlockHeader;
    KxMapNode header;
    Record record;
  };
  std::vector<Node> m_Nodes;
};

template <class Kernel>
class FloorStore {
 public:
  void BeforeSave() {
    Bytes();
    std::filesystem::remove(Path());
  }
  bool Save() {
    const uint64_t uiBytes = m_Buffer.size();
    const int iFd = open(Path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (iFd < 0) return false;
    bool bOk = true;
    for (uint64_t uiDone = 0; bOk && uiDone < uiBytes;) {
      const ssize_t iWritten = write(iFd, m_Buffer.data() + uiDone, uiBytes - uiDone);
      bOk = iWritten > 0;
      uiDone += bOk ? static_cast<uint64_t>(iWritten) : 0;
    }
    bOk = bOk && fsync(iFd) == 0;
    close(iFd);
    return bOk;
  }
  void BeginReading() {}
  void EndReading() {}
  uint64_t SavedBytes() { return Bytes(); }
  void PrepareOpen() { Bytes(); }
  bool Open() {
    const int iFd = open(Kernel::Get().EnsureCopy().c_str(), O_RDONLY | O_CLOEXEC);
    if (iFd < 0) return false;
    uint64_t uiDone = 0;
    while (uiDone < m_Buffer.size()) {
      const ssize_t iRead = read(iFd, m_Buffer.data() + uiDone, m_Buffer.size() - uiDone);
      if (iRead <= 0) break;
      uiDone += static_cast<uint64_t>(iRead);
    }
    close(iFd);
    return uiDone == m_Buffer.size();
  }
  void Close() {}

 private:
  static std::string Path() { return Scratch().csFiles + "/floor.bin"; }
  // As many bytes as the kernel's saved file has.
  uint64_t Bytes() {
    const uint64_t uiBytes = FileBytes(Kernel::Get().EnsureCopy());
    if (m_Buffer.size() != uiBytes) m_Buffer.assign(uiBytes, 0x5A);
    return uiBytes;
  }
  std::vector<char> m_Buffer;
};

class FloorNumbers : public FloorStore<KernelNumbers> {
 public:
  static FloorNumbers& Get() {
    static FloorNumbers store;
    return store;
  }
  // The kernel's record and the name it refers to.
  struct Competitor {
    CkxCompetitor record;
    std::u16string csName;
  };
  void Clear() { m_Map = {}; }
  void EnsureFilled() {
    if (m_Map.size() != kRecords) Fill();
    if (m_Walk.size() != kRecords) {
      m_Walk.resize(kRecords);
      for (uint32_t i = 0; i < kRecords; ++i) m_Walk[i].CategoryId = CategoryOf(i);
    }
    if (!m_Linked.Filled()) {
      m_Linked.Fill([](uint32_t i, CkxCompetitor& swimmer) { swimmer.CategoryId = CategoryOf(i); });
    }
  }
  void Fill() {
    for (uint32_t i = 0; i < kRecords; ++i) {
      Competitor& swimmer = m_Map[Data().numbers[i]];
      swimmer.record.CategoryId = CategoryOf(i);
      swimmer.record.CompetitorId = static_cast<int32_t>(i);
      swimmer.csName = Data().names16[i];
    }
  }
  int64_t Find(uint32_t i) { return m_Map.find(Data().lookupNumbers[i])->second.record.CategoryId; }
  int64_t Walk() {
    int64_t liSum = 0;
    for (const CkxCompetitor& swimmer : m_Walk) liSum += swimmer.CategoryId;
    return liSum;
  }
  int64_t WalkLinked() const {
    return m_Linked.Walk([](const CkxCompetitor& swimmer) { return swimmer.CategoryId; });
  }

 private:
  std::unordered_map<uint64_t, Competitor> m_Map;
  std::vector<CkxCompetitor> m_Walk;
  LinkedNodes<CkxCompetitor> m_Linked;
};

class FloorTexts : public FloorStore<KernelTexts> {
 public:
  static FloorTexts& Get() {
    static FloorTexts store;
    return store;
  }
  // The kernel's record and the value it refers to.
  struct Parameter {
    CkxSetupParam record;
    std::u16string csValue;
  };
  void Clear() { m_Map = {}; }
  void EnsureFilled() {
    if (m_Map.size() != kRecords) Fill();
    if (m_Walk.size() != kRecords) {
      m_Walk.resize(kRecords);
      for (uint32_t i = 0; i < kRecords; ++i) {
        m_Walk[i].Value.m_Str.lengthWord = static_cast<uint32_t>(Data().values16[i].size()) + 1;
      }
    }
    if (!m_Linked.Filled()) {
      m_Linked.Fill([](uint32_t i, CkxSetupParam& parameter) {
        parameter.Value.m_Str.lengthWord = static_cast<uint32_t>(Data().values16[i].size()) + 1;
      });
    }
  }
  void Fill() {
    for (uint32_t i = 0; i < kRecords; ++i) {
      Parameter& parameter = m_Map[Data().texts[i]];
      parameter.record.Value.m_Str.lengthWord =
          static_cast<uint32_t>(Data().values16[i].size()) + 1;
      parameter.csValue = Data().values16[i];
    }
  }
  int64_t Find(uint32_t i) {
    return static_cast<int64_t>(
               m_Map.find(Data().lookupTexts[i])->second.record.Value.m_Str.lengthWord) -
           1;
  }
  int64_t Walk() {
    int64_t liSum = 0;
    for (const CkxSetupParam& parameter : m_Walk) liSum += parameter.Value.m_Str.lengthWord - 1;
    return liSum;
  }
  int64_t WalkLinked() const {
    return m_Linked.Walk(
        [](const CkxSetupParam& parameter) { return parameter.Value.m_Str.lengthWord - 1; });
  }

 private:
  std::unordered_map<std::string, Parameter> m_Map;
  std::vector<CkxSetupParam> m_Walk;
  LinkedNodes<CkxSetupParam> m_Linked;
};

// ---------------------------------------------------------------------------
// The benchmarks, one template each, run over every store.

// Find and Enumerate read inside one read transaction of the store (SQLite
// and LMDB), begun before the timed loop.
template <class Store>
struct Reading {
  explicit Reading(Store& store) : m_Store(store) { store.BeginReading(); }
  ~Reading() { m_Store.EndReading(); }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
  Store& m_Store;
};

// Time per record, for the operations that handle all of them.
void PerRecord(benchmark::State& state) {
  state.counters["per_record"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kRecords,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <class Store>
void BM_Add(benchmark::State& state) {
  UseKernel();
  Store& store = Store::Get();
  for (auto _ : state) {
    state.PauseTiming();
    store.Clear();
    state.ResumeTiming();
    store.Fill();
  }
  PerRecord(state);
}

void BM_KernelRemove(benchmark::State& state) {
  UseKernel();
  KernelNumbers& store = KernelNumbers::Get();
  for (auto _ : state) {
    state.PauseTiming();
    store.EnsureFilled();
    state.ResumeTiming();
    store.RemoveEach();
  }
  PerRecord(state);
}
BENCHMARK(BM_KernelRemove)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_KernelWriteNames(benchmark::State& state) {
  UseKernel();
  KernelNumbers& store = KernelNumbers::Get();
  store.EnsureFilled();
  for (auto _ : state) store.WriteNames();
  PerRecord(state);
}
BENCHMARK(BM_KernelWriteNames)->Iterations(5)->Unit(benchmark::kMillisecond);

// Lookups in shuffled order. Chained, each lookup's key waits for the
// answer before: every field read is small, so the step is one either way.
template <class Store, bool bChained>
void FindInOrder(benchmark::State& state) {
  UseKernel();
  Store& store = Store::Get();
  store.EnsureFilled();
  Reading<Store> reading(store);
  uint32_t i = 0;
  int64_t liSum = 0;
  for (auto _ : state) {
    const int64_t liField = store.Find(i);
    liSum += liField;
    if constexpr (bChained) i += static_cast<uint32_t>(static_cast<uint64_t>(liField) >> 40);
    ++i;
    if (i >= kRecords) i = 0;
  }
  benchmark::DoNotOptimize(liSum);
}

template <class Store>
void BM_Find(benchmark::State& state) {
  FindInOrder<Store, false>(state);
}

template <class Store>
void BM_FindChained(benchmark::State& state) {
  FindInOrder<Store, true>(state);
}

template <class Store>
void BM_Enumerate(benchmark::State& state) {
  UseKernel();
  Store& store = Store::Get();
  store.EnsureFilled();
  Reading<Store> reading(store);
  for (auto _ : state) benchmark::DoNotOptimize(store.Walk());
  PerRecord(state);
}

// Floors only: the walk over the kernel's node layout (LinkedNodes).
template <class Store>
void BM_EnumerateLinked(benchmark::State& state) {
  Store& store = Store::Get();
  store.EnsureFilled();
  for (auto _ : state) benchmark::DoNotOptimize(store.WalkLinked());
  PerRecord(state);
}

template <class Store>
void BM_Save(benchmark::State& state) {
  UseKernel();
  Store& store = Store::Get();
  store.EnsureFilled();
  for (auto _ : state) {
    state.PauseTiming();
    store.BeforeSave();
    state.ResumeTiming();
    if (!store.Save()) state.SkipWithError("the save failed");
  }
  state.counters["bytes"] = static_cast<double>(store.SavedBytes());
}

template <class Store>
void BM_Open(benchmark::State& state) {
  UseKernel();
  Store& store = Store::Get();
  store.PrepareOpen();
  for (auto _ : state) {
    if (!store.Open()) state.SkipWithError("the open failed");
    state.PauseTiming();
    store.Close();
    state.ResumeTiming();
  }
}

// Whole-store operations run a fixed number of times; Find and Enumerate
// as often as the library needs for a stable figure.
// Saving and opening whole files: few, wall-clock timed runs.
void WholeFile(benchmark::internal::Benchmark* pBench) {
  pBench->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
}

#define VARNOX_KERNEL_BENCH(Keys)                                                         \
  BENCHMARK_TEMPLATE(BM_Add, Kernel##Keys)->Iterations(5)->Unit(benchmark::kMillisecond); \
  BENCHMARK_TEMPLATE(BM_Add, Sqlite##Keys)->Iterations(5)->Unit(benchmark::kMillisecond); \
  BENCHMARK_TEMPLATE(BM_Add, Lmdb##Keys)->Iterations(5)->Unit(benchmark::kMillisecond);   \
  BENCHMARK_TEMPLATE(BM_Add, Floor##Keys)->Iterations(5)->Unit(benchmark::kMillisecond);  \
  BENCHMARK_TEMPLATE(BM_Find, Kernel##Keys);                                              \
  BENCHMARK_TEMPLATE(BM_Find, Sqlite##Keys);                                              \
  BENCHMARK_TEMPLATE(BM_Find, Lmdb##Keys);                                                \
  BENCHMARK_TEMPLATE(BM_Find, Floor##Keys);                                               \
  BENCHMARK_TEMPLATE(BM_FindChained, Kernel##Keys);                                       \
  BENCHMARK_TEMPLATE(BM_FindChained, Sqlite##Keys);                                       \
  BENCHMARK_TEMPLATE(BM_FindChained, Lmdb##Keys);                                         \
  BENCHMARK_TEMPLATE(BM_FindChained, Floor##Keys);                                        \
  BENCHMARK_TEMPLATE(BM_Enumerate, Kernel##Keys)->Unit(benchmark::kMicrosecond);          \
  BENCHMARK_TEMPLATE(BM_Enumerate, Sqlite##Keys)->Unit(benchmark::kMicrosecond);          \
  BENCHMARK_TEMPLATE(BM_Enumerate, Lmdb##Keys)->Unit(benchmark::kMicrosecond);            \
  BENCHMARK_TEMPLATE(BM_Enumerate, Floor##Keys)->Unit(benchmark::kMicrosecond);           \
  BENCHMARK_TEMPLATE(BM_EnumerateLinked, Floor##Keys)->Unit(benchmark::kMicrosecond);     \
  BENCHMARK_TEMPLATE(BM_Save, Kernel##Keys)->Apply(WholeFile);                            \
  BENCHMARK_TEMPLATE(BM_Save, Sqlite##Keys)->Apply(WholeFile);                            \
  BENCHMARK_TEMPLATE(BM_Save, Lmdb##Keys)->Apply(WholeFile);                              \
  BENCHMARK_TEMPLATE(BM_Save, Floor##Keys)->Apply(WholeFile);                             \
  BENCHMARK_TEMPLATE(BM_Open, Kernel##Keys)->Apply(WholeFile);                            \
  BENCHMARK_TEMPLATE(BM_Open, Sqlite##Keys)->Apply(WholeFile);                            \
  BENCHMARK_TEMPLATE(BM_Open, Lmdb##Keys)->Apply(WholeFile);                              \
  BENCHMARK_TEMPLATE(BM_Open, Floor##Keys)->Apply(WholeFile)

VARNOX_KERNEL_BENCH(Numbers);
VARNOX_KERNEL_BENCH(Texts);

}  // namespace
