// The binding core against a tree of standard containers: converting a list of records
// from and to BindingValue, a host structure round trip, and the same list built as
// std::map / std::string / std::vector for comparison; and the smallest tree with a
// context, one string.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "bench_support.h"
#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/field_converters.h"
#include "binding/host_value.h"
#include "binding/record_builder.h"
#include "binding/type_registry.h"

namespace {

constexpr int kChampionCount = 200;

struct ChampionSummary {
  int32_t id = 0;
  std::string name;
  std::string alias;
};

// Invented, distinct names of 5 to 15 characters, like a real roster's.
std::string MakeName(int i) {
  static const char* const kSyllables[] = {"Ka", "ro",  "Vel", "thi", "Mor", "ane",
                                           "Zu", "lix", "Ser", "da",  "Qui", "on"};
  std::string name;
  const int parts = 2 + i % 3;
  for (int p = 0; p < parts; ++p) name += kSyllables[(i * 7 + p * 5) % 12];
  return name + std::to_string(i);
}

std::vector<ChampionSummary> MakeRoster() {
  std::vector<ChampionSummary> roster;
  for (int i = 0; i < kChampionCount; ++i) {
    roster.push_back({i + 1, MakeName(i), MakeName(i + kChampionCount)});
  }
  return roster;
}

const mau::BindingTypeRegistry& Registry() {
  static mau::BindingTypeRegistry* registry = [] {
    auto* r = new mau::BindingTypeRegistry();
    r->Record<ChampionSummary>("GameDataChampionSummary")
        .Field("id", &ChampionSummary::id)
        .Field("name", &ChampionSummary::name)
        .Field("alias", &ChampionSummary::alias);
    return r;
  }();
  return *registry;
}

mau::BindingValue RosterValue() {
  mau::BindingResult result;
  mau::ConvertToValue(result, MakeRoster(), Registry());
  return std::move(result.value());
}

void BM_ChampionList_FromValue(benchmark::State& state) {
  const mau::BindingValue value = RosterValue();
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    std::vector<ChampionSummary> roster;
    mau::BindingResult result;
    mau::AssignFromValue(result, roster, value, "<result>", Registry());
    benchmark::DoNotOptimize(roster.data());
  }
  counters.Report(state);
  state.SetItemsProcessed(state.iterations() * kChampionCount);
}
BENCHMARK(BM_ChampionList_FromValue);

void BM_ChampionList_ToValue(benchmark::State& state) {
  const std::vector<ChampionSummary> roster = MakeRoster();
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    mau::BindingResult result;
    mau::ConvertToValue(result, roster, Registry());
    benchmark::DoNotOptimize(&result);
  }
  counters.Report(state);
  state.SetItemsProcessed(state.iterations() * kChampionCount);
}
BENCHMARK(BM_ChampionList_ToValue);

// The same tree as ChampionList_ToValue builds, from standard containers. GCC 12 reports
// the variant's inactive alternatives as maybe uninitialized when it is moved.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
struct StdValue {
  std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, std::vector<StdValue>,
               std::map<std::string, StdValue>>
      data;
};

void BM_Baseline_StdTree(benchmark::State& state) {
  const std::vector<ChampionSummary> roster = MakeRoster();
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    StdValue list{std::vector<StdValue>()};
    auto& items = std::get<std::vector<StdValue>>(list.data);
    items.reserve(roster.size());
    for (const ChampionSummary& champion : roster) {
      std::map<std::string, StdValue> record;
      record.try_emplace("id", StdValue{int64_t{champion.id}});
      record.try_emplace("name", StdValue{champion.name});
      record.try_emplace("alias", StdValue{champion.alias});
      items.push_back(StdValue{std::move(record)});
    }
    benchmark::DoNotOptimize(&list);
  }
  counters.Report(state);
  state.SetItemsProcessed(state.iterations() * kChampionCount);
}
BENCHMARK(BM_Baseline_StdTree);

// About 50 KB of host records and texts: 120 champions with nested stats, tags and a
// description each.
HostValue MakeHostStructure(size_t& bytes) {
  mau::BindingValue tree;
  mau::BindingValue& champions = tree.MemberForWriting("champions");
  for (int i = 0; i < 120; ++i) {
    mau::BindingValue& c = champions.AppendElement();
    c.MemberForWriting("id") = i;
    c.MemberForWriting("name") = MakeName(i);
    c.MemberForWriting("alias") = MakeName(i + 5);
    c.MemberForWriting("description") = "A champion of the " + MakeName(i + 1) + " valley.";
    c.MemberForWriting("rating") = 0.5 * i;
    c.MemberForWriting("ranked") = i % 2 == 0;
    mau::BindingValue& stats = c.MemberForWriting("stats");
    stats.MemberForWriting("attack") = i * 3;
    stats.MemberForWriting("defense") = i * 2;
    mau::BindingValue& tags = c.MemberForWriting("tags");
    tags.AppendElement() = "mage";
    tags.AppendElement() = "support";
  }
  tree.MemberForWriting("version") = "14.2";
  HostValue wire{};
  if (!mau::BindingToHostValue(tree, wire, nullptr)) std::abort();
  bytes = 0;
  // Count the records and texts the host would see.
  struct Counter {
    static size_t Of(const HostValue& v) {
      size_t n = sizeof(HostValue);
      if (v.type == MAU_HOST_VALUE_STRING_OWNED) n += v.payload.string.length + 1;
      if (v.type == MAU_HOST_VALUE_COLLECTION) {
        for (uint32_t i = 0; i < v.payload.collection.count; ++i)
          n += Of(v.payload.collection.items[i]);
      }
      if (v.type == MAU_HOST_VALUE_STRUCTURE) {
        for (uint32_t i = 0; i < v.payload.structure.count; ++i) {
          const HostStructureEntry& e = v.payload.structure.entries[i];
          n += sizeof(HostStructureEntry) - sizeof(HostValue) + std::strlen(e.name) + 1 +
               Of(e.value);
        }
      }
      return n;
    }
  };
  bytes = Counter::Of(wire);
  return wire;
}

void BM_HostStruct_RoundTrip(benchmark::State& state) {
  size_t bytes = 0;
  HostValue wire = MakeHostStructure(bytes);
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    mau::BindingResult result;
    if (!mau::HostValueToBinding(result, wire, "<result>")) std::abort();
    HostValue back{};
    if (!mau::BindingToHostValue(result.value(), back, nullptr)) std::abort();
    mau::ClearHostValue(back);
  }
  counters.Report(state);
  state.counters["hostBytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  mau::ClearHostValue(wire);
}
BENCHMARK(BM_HostStruct_RoundTrip);

// A string value made and dropped: a value context created for one text and destroyed
// with it, as for each string argument of an exposed-function call.
void BM_OneStringValue(benchmark::State& state) {
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    mau::BindingValue value;
    value.SetString("champions");
    benchmark::DoNotOptimize(value);
  }
  counters.Report(state);
}
BENCHMARK(BM_OneStringValue);

}  // namespace
