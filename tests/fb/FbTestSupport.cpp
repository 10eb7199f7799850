#include "FbTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "fb/IB_Intf.h"
#include "platform/Platform.h"

namespace fbtest {

TTempFolder::TTempFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
    const std::string path = "/tmp/dorvana-fbtest-" + std::to_string(random());
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) FPath = path;
  }
  if (FPath.empty()) throw std::runtime_error("cannot create a temporary folder");
  std::filesystem::permissions(FPath, std::filesystem::perms::all);
}

TTempFolder::~TTempFolder() {
  std::error_code error;
  std::filesystem::remove_all(FPath, error);
}

std::string RunIsql(const std::string& sql, const std::string& arguments) {
  TTempFolder folder;
  const std::string script = folder.Path() + "/script.sql";
  const std::string output = folder.Path() + "/output.txt";
  std::ofstream(script) << sql;
  const std::string command =
      "isql-fb -q -bail -i '" + script + "' " + arguments + " >'" + output + "' 2>&1";
  const int rc = std::system(command.c_str());
  std::ifstream in(output);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (rc != 0 || text.find("Statement failed") != std::string::npos)
    throw std::runtime_error("isql-fb failed: " + text);
  return text;
}

void CreateDatabase(const std::string& path, const std::string& setupSql, const std::string& user,
                    const std::string& password, int dialect) {
  std::string sql = "SET NAMES WIN1251;\nSET SQL DIALECT " + std::to_string(dialect) +
                    ";\nCREATE DATABASE '" + path + "' USER '" + user + "'";
  if (!password.empty()) sql += " PASSWORD '" + password + "'";
  sql += " DEFAULT CHARACTER SET WIN1251;\n" + setupSql + "\nCOMMIT;\n";
  RunIsql(sql);
}

bool ServerAvailable() {
  static const bool available = [] {
    try {
      TTempFolder folder;
      CreateDatabase("127.0.0.1:" + folder.Path() + "/probe.fdb", "", "DORVANA", "dorvana");
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }();
  return available;
}

std::string FakeClientPath(const std::string& variant) {
  return std::string(DORVANA_FAKE_CLIENT_DIR) + "/libfakeclient_" + variant + ".so";
}

void* FakeEntry(const std::string& path, const std::string& name) {
  // The registry keeps the library loaded for the rest of the process; loading it
  // again here gives the handle of that copy.
  AcquireClientLibrary(path);
  void* library = platform::LoadLibrary(path);
  if (!library) throw std::runtime_error("cannot load " + path);
  void* entry = platform::GetProcAddress(library, name);
  platform::UnloadLibrary(library);
  if (!entry) throw std::runtime_error("no entry " + name + " in " + path);
  return entry;
}

}  // namespace fbtest

#include <cstring>

#include "fb/FIBDatabase.h"
#include "fb/fib.h"

namespace fbtest {

void ExecImmediate(TFIBDatabase& db, TFIBTransaction& t, const std::string& sql) {
  IIBClientLibrary& library = *db.ClientLibrary();
  const ISC_STATUS status = library.isc_dsql_execute_immediate(
      StatusVector(), db.Handle(), t.Handle(), 0, sql.c_str(), 3, nullptr);
  if (status) RaiseServerError(library, &t);
}

int SelectInt(TFIBDatabase& db, TFIBTransaction& t, const std::string& sql) {
  IIBClientLibrary& library = *db.ClientLibrary();
  alignas(XSQLDA) char block[XSQLDA_LENGTH(1)] = {};
  XSQLDA* out = reinterpret_cast<XSQLDA*>(block);
  out->version = SQLDA_VERSION1;
  out->sqln = out->sqld = 1;
  ISC_LONG value = 0;
  short indicator = 0;
  out->sqlvar[0].sqltype = SQL_LONG + 1;
  out->sqlvar[0].sqllen = sizeof value;
  out->sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
  out->sqlvar[0].sqlind = &indicator;
  const ISC_STATUS status = library.isc_dsql_exec_immed2(StatusVector(), db.Handle(), t.Handle(), 0,
                                                         sql.c_str(), 3, nullptr, out);
  if (status) RaiseServerError(library, &t);
  return value;
}

}  // namespace fbtest
