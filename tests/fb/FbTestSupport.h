// Support for tests of the database layer: real databases made with isql-fb in a
// temporary folder, and the fake client libraries of tests/fakes.
#pragma once

#include <string>

namespace fbtest {

// A folder of its own below /tmp, open to every user (a server running as another
// user creates and opens files in it); removed with everything in it on
// destruction.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Runs isql-fb with sql on standard input; returns its combined output. Raises
// std::runtime_error when isql-fb fails or reports an error.
std::string RunIsql(const std::string& sql, const std::string& arguments = "");

// Creates a database at path (a file path for the embedded engine, or
// "127.0.0.1:/path" through the server) and runs setupSql in it. The database
// uses the given dialect and the WIN1251 character set.
void CreateDatabase(const std::string& path, const std::string& setupSql,
                    const std::string& user = "SYSDBA", const std::string& password = "",
                    int dialect = 3);

// True when a server answers on 127.0.0.1:3050 and the test account works.
bool ServerAvailable();

// The fake client library variants, by file path.
std::string FakeClientPath(const std::string& variant);
// An entry point of the fake library at path, for steering it.
void* FakeEntry(const std::string& path, const std::string& name);

}  // namespace fbtest

class TFIBDatabase;
class TFIBTransaction;

namespace fbtest {

// Runs one statement without results in the transaction, through the bound client
// library; raises the server error on failure.
void ExecImmediate(TFIBDatabase& db, TFIBTransaction& t, const std::string& sql);
// Runs a select of one integer in the transaction and returns it.
int SelectInt(TFIBDatabase& db, TFIBTransaction& t, const std::string& sql);

}  // namespace fbtest
