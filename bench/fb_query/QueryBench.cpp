// Reading a menu-shaped select (eight columns, N rows, two text parameters):
// the statement layer's fetch and AsText of every column beside a minimal C loop
// over the same rows through the client library, in one run on one database of
// the embedded engine. Before the timings it prints the client calls one
// service-shaped round makes (new text, parameters, execute, every row, close).
//   query_bench [benchmark options]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/fb_query/fetch_floor.h"
#include "fb/IB_CallCounter.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"

namespace {

constexpr int kMaxRows = 5000;
const char* const kColumns[] = {"Id",       "IdGroup",      "Fullname",      "DefaultQuantity",
                                "EdVolume", "ISINPUTPRICE", "ISINPUTVOLUME", "PRICE"};
const char* const kStatement = "select * from GETPRICE(:CARDCODE,:STATION)";

std::string gDbPath;

void CreateDatabase(const std::string& folder) {
  gDbPath = folder + "/menu.fdb";
  const std::string script = folder + "/menu.sql";
  std::ofstream(script) << "set sql dialect 1;\n"
                           "create database '" +
                               gDbPath +
                               "' user 'SYSDBA' default character set WIN1251;\n"
                               R"(create table MENU (ID integer not null primary key,
  IDGROUP integer, FULLNAME varchar(100), DEFAULTQUANTITY integer, EDVOLUME varchar(20),
  ISINPUTPRICE smallint, ISINPUTVOLUME smallint, PRICE numeric(15,2));
set term ^ ;
execute block as declare i integer = 1; begin
  while (i <= )" + std::to_string(kMaxRows) +
                               R"() do begin
    insert into MENU values (:i, mod(:i, 20), 'Dish number ' || :i || ' of the house menu',
      1, 'pcs', 0, mod(:i, 2), :i * 1.25);
    i = i + 1;
  end
end^
create procedure GETPRICE (CARDCODE varchar(40), STATION varchar(40))
returns (Id integer, IdGroup integer, Fullname varchar(100), DefaultQuantity integer,
  EdVolume varchar(20), ISINPUTPRICE smallint, ISINPUTVOLUME smallint,
  PRICE numeric(15,2)) as
begin
  for select ID, IDGROUP, FULLNAME, DEFAULTQUANTITY, EDVOLUME, ISINPUTPRICE,
      ISINPUTVOLUME, PRICE from MENU where ID <= cast(:STATION as integer) order by ID
    into :Id, :IdGroup, :Fullname, :DefaultQuantity, :EdVolume, :ISINPUTPRICE,
      :ISINPUTVOLUME, :PRICE do suspend;
end^
set term ; ^
commit;
)";
  const std::string command = "isql-fb -q -bail -i '" + script + "' >/dev/null";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "cannot create %s\n", gDbPath.c_str());
    std::exit(1);
  }
}

// The service's components, connected, with TransactionRead started.
struct TModule {
  TComponent owner;
  TpFIBDatabase* db;
  TpFIBTransaction* read;
  TpFIBQuery* query;
  TModule() {
    owner.SetName("DorvanaWebInterface");
    db = new TpFIBDatabase(&owner);
    db->SetName("Database");
    read = new TpFIBTransaction(&owner);
    read->SetName("TransactionRead");
    query = new TpFIBQuery(&owner);
    query->SetName("Query");
    db->SetDBParams({"lc_ctype=WIN1251"});
    db->SetLibraryName("fbclient.dll");
    db->SetDBName(gDbPath);
    db->ConnectParams().SetUserName("SYSDBA");
    read->SetDefaultDatabase(db);
    read->SetTPBMode(tpbDefault);
    read->SetTRParams({"read", "nowait", "rec_version", "read_committed"});
    query->SetDatabase(db);
    query->SetTransaction(read);
    db->SetConnected(true);
    read->StartTransaction();
  }
};

// One service-shaped round; returns the bytes of text read.
size_t ReadAll(TpFIBQuery& q, int rows) {
  q.ParamNamed("CARDCODE").SetAsText("1001");
  q.ParamNamed("STATION").SetAsText(std::to_string(rows));
  q.ExecQuery();
  size_t bytes = 0;
  while (!q.AtEnd()) {
    for (const char* column : kColumns) bytes += q.ColumnNamed(column).AsText().size();
    q.FetchNext();
  }
  q.CloseResult();
  return bytes;
}

void PrintCallCounts(int rows) {
  TModule m;
  TIBCallCounter counter(*m.db->ClientLibrary());
  m.query->SQL().Clear();
  m.query->SQL().Add(kStatement);
  ReadAll(*m.query, rows);
  m.query->SQL().Clear();  // the next command's change drops the statement
  uint64_t total = 0;
  std::printf("client calls for one select of %d rows:\n", rows);
  for (int e = 0; e < kIBEntryCount; ++e) {
    const uint64_t n = counter.Count(static_cast<TIBEntry>(e));
    if (n == 0) continue;
    std::printf("  %-28s %llu\n", IBEntryName(static_cast<TIBEntry>(e)),
                static_cast<unsigned long long>(n));
    total += n;
  }
  std::printf("  %-28s %llu\n", "total", static_cast<unsigned long long>(total));
}

void BM_StatementFetchAsText(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  TModule m;
  m.query->SQL().Add(kStatement);
  for (auto _ : state) benchmark::DoNotOptimize(ReadAll(*m.query, rows));
  state.counters["per_row"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_CFloorFetchText(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  const std::string sql = "select * from GETPRICE(?,?)";
  TFloor* floor =
      floor_open(gDbPath.c_str(), "SYSDBA", sql.c_str(), "1001", std::to_string(rows).c_str());
  if (!floor) {
    state.SkipWithError("floor_open failed");
    return;
  }
  for (auto _ : state) {
    if (floor_run(floor) != rows) state.SkipWithError("wrong row count");
  }
  floor_close(floor);
  state.counters["per_row"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

BENCHMARK(BM_StatementFetchAsText)->Arg(50)->Arg(500)->Arg(5000);
BENCHMARK(BM_CFloorFetchText)->Arg(50)->Arg(500)->Arg(5000);

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = "/tmp/dorvana-fbq-bench-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder);
  CreateDatabase(folder);
  PrintCallCounts(0);
  PrintCallCounts(100);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);
  return 0;
}
