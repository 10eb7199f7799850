// How fast a posted order is parsed, in MB/s, by the order reader and by libxml2
// building its own tree from the same bytes.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>

#include "xml/NativeXml.h"

namespace {

// An order in the shape a terminal posts it, line breaks as CR LF.
std::string MakeOrder(int rows) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Order>\r\n"
      "<GUID>6c1e0b52-9f7a-4d0e-8a21-3b4c5d6e7f80</GUID>\r\n<DEVICEID>T-03</DEVICEID>\r\n"
      "<PIN>\xD0\x9A\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0 4711</PIN>\r\n<TABLE>12</TABLE>\r\n"
      "<FOODS>\r\n";
  for (int i = 0; i < rows; ++i) {
    s += "<food>" + std::to_string(100 + i) + "\r\n<count>" + std::to_string(i % 4 + 1) +
         "</count>\r\n<weight>" + std::to_string(i * 50) + "</weight>\r\n<isModificator>" +
         (i % 3 ? "false" : "true") + "</isModificator>\r\n</food>\r\n";
  }
  s += "</FOODS>\r\n</Order>\r\n";
  return s;
}

void BM_NativeXmlParse(benchmark::State& state) {
  const std::string text = MakeOrder(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TNativeXml doc;
    doc.LoadFromText(text);
    benchmark::DoNotOptimize(doc.FirstElement());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}

// The parse and every read the order intake makes.
void BM_NativeXmlParseAndRead(benchmark::State& state) {
  const std::string text = MakeOrder(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TNativeXml doc;
    doc.LoadFromText(text);
    const TXmlNode* root = doc.FirstElement();
    int64_t sum = root->FindChild("TABLE")->IntegerValue();
    sum += root->FindChild("GUID")->TextValue().size();
    sum += root->FindChild("DEVICEID")->TextValue().size();
    sum += root->FindChild("PIN")->TextValue().size();
    const TXmlNode* foods = root->FindChild("FOODS");
    for (int i = 0; i < foods->ChildCount(); ++i) {
      const TXmlNode* row = foods->ChildAt(i);
      sum += row->IntegerValue() + row->FindChild("count")->IntegerValue() +
             row->FindChild("weight")->IntegerValue() +
             row->FindChild("isModificator")->BooleanValue();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_LibXml2Parse(benchmark::State& state) {
  const std::string text = MakeOrder(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "order.xml", nullptr,
                                  XML_PARSE_NONET);
    if (!doc) {
      state.SkipWithError("libxml2 rejected the order");
      break;
    }
    benchmark::DoNotOptimize(xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_NativeXmlParse)->Arg(10)->Arg(200)->Arg(5000);
BENCHMARK(BM_NativeXmlParseAndRead)->Arg(10)->Arg(200)->Arg(5000);
BENCHMARK(BM_LibXml2Parse)->Arg(10)->Arg(200)->Arg(5000);

}  // namespace

int main(int argc, char** argv) {
  xmlInitParser();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}
