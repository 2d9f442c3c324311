#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace closewright::testing {

/// A private temporary folder, removed with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix) {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / (prefix + "-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(path_, error)) break;
    }
  }
  ~ScratchFolder() {
    if (keep_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// Leaves the folder behind for a reader of its logs.
  void Keep() { keep_ = true; }

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

/// Points the driver manager at a private driver registry naming Debian's SQLite and PostgreSQL drivers, so
/// that the tests do not depend on what the machine has registered. Done once per process, before the
/// driver manager first reads its registry.
inline void UsePrivateOdbcRegistry() {
  static std::once_flag once;
  std::call_once(once, [] {
    static ScratchFolder folder("closewright-odbcsysini");
    std::ofstream ini(folder.Path() / "odbcinst.ini");
    ini << "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=libsqlite3odbc.so\n\n"
        << "[PostgreSQL Unicode]\nDescription=PostgreSQL ODBC driver (Unicode "
           "version)\nDriver=psqlodbcw.so\n\n"
        << "[FreeTDS]\nDescription=TDS driver (Sybase/MS SQL)\nDriver=libtdsodbc.so\n";
    ini.close();
    std::ofstream(folder.Path() / "odbc.ini").close();
    ::setenv("ODBCSYSINI", folder.Path().c_str(), 1);
    ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
  });
}

/// `Driver=SQLite3;Database=<file>` for a fresh file in its own folder.
class SqliteOdbcDatabase {
 public:
  SqliteOdbcDatabase() : folder_("closewright-odbc") { UsePrivateOdbcRegistry(); }
  std::string File() const { return (folder_.Path() / "ledger.db").string(); }
  std::string ConnectString() const { return "Driver=SQLite3;Database=" + File(); }

 private:
  ScratchFolder folder_;
};

/// A private PostgreSQL server listening only on a Unix socket in a temporary folder, with trust
/// authentication; stopped and removed with the object.
class PostgresCluster {
 public:
  /// Starts a server; nullptr with the reason in `whyNot` when no PostgreSQL server is installed or it
  /// does not start.
  static std::unique_ptr<PostgresCluster> Start(std::string& whyNot) {
    UsePrivateOdbcRegistry();
    std::filesystem::path bin;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
      const std::filesystem::path candidate = entry.path() / "bin";
      if (std::filesystem::exists(candidate / "initdb") && (bin.empty() || candidate > bin)) bin = candidate;
    }
    if (bin.empty()) {
      whyNot = "no PostgreSQL server is installed under /usr/lib/postgresql";
      return nullptr;
    }
    std::unique_ptr<PostgresCluster> cluster(new PostgresCluster(bin));
    if (!cluster->Run("initdb -D " + cluster->Data() +
                      " -A trust -U postgres -E UTF8 --locale=C --no-sync") ||
        !cluster->Run("pg_ctl -D " + cluster->Data() + " -l " + cluster->Log() + " -w -t 60 -o \"-k " +
                      cluster->folder_.Path().string() +
                      " -c listen_addresses= -p 5432 -c fsync=off\" start")) {
      whyNot = "the private PostgreSQL server did not start; see " + cluster->folder_.Path().string();
      cluster->keepFolder_ = true;
      return nullptr;
    }
    cluster->started_ = true;
    return cluster;
  }

  ~PostgresCluster() {
    if (started_) Run("pg_ctl -D " + Data() + " -m immediate -w stop");
    if (keepFolder_) folder_.Keep();
  }
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  std::string ConnectString() const {
    return "Driver=PostgreSQL Unicode;Servername=" + folder_.Path().string() +
           ";Port=5432;Database=postgres;Username=postgres";
  }

 private:
  explicit PostgresCluster(std::filesystem::path bin) : bin_(std::move(bin)), folder_("closewright-pg") {
    // The server refuses to run as root; the postgres account the package creates owns the folder then.
    if (::geteuid() == 0) {
      asUser_ = "runuser -u postgres -- ";
      if (std::system(("chown postgres: " + folder_.Path().string()).c_str()) != 0) {
        // Left to initdb to report: it names the folder it cannot write.
      }
    }
  }
  std::string Data() const { return (folder_.Path() / "data").string(); }
  std::string Log() const { return (folder_.Path() / "server.log").string(); }
  bool Run(const std::string& command) const {
    const std::string line =
        asUser_ + (bin_ / "").string() + command + " >>" + (folder_.Path() / "setup.log").string() + " 2>&1";
    return std::system(line.c_str()) == 0;
  }

  std::filesystem::path bin_;
  ScratchFolder folder_;
  std::string asUser_;
  bool started_ = false;
  bool keepFolder_ = false;
};

}  // namespace closewright::testing
