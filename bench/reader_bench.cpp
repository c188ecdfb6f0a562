// The readers against the libraries a user would otherwise pick, side by side on the same
// bytes: JSON to BindingValue against rapidjson's DOM and nlohmann-json, MessagePack to
// BindingValue against msgpack-cxx's unpack, YAML to BindingValue against libyaml's bare
// event loop. Documents: twitter, citm_catalog and canada from bench/data, and a
// 200-entry champion summary list made here. The MessagePack and YAML forms
// are derived from each JSON document when the benchmark starts.
#include <yaml.h>

#include <benchmark/benchmark.h>

#define MSGPACK_NO_BOOST
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "binding/binding_result.h"
#include "binding/json_reader.h"
#include "binding/msgpack_reader.h"
#include "binding/yaml_reader.h"

namespace {

enum class Doc { Twitter, Citm, Canada, Champions };

std::string ReadFile(const char* name) {
  const std::string path = std::string(MAU_BENCH_DATA_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::abort();
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Invented champions: 200 entries of about 250 bytes, the shape of a game's champion
// summary (id, key, names, title, roles, portrait path, a few stats).
std::string MakeChampions() {
  static const char* const kSyllables[] = {"Ka", "ro",  "Vel", "thi", "Mor", "ane",
                                           "Zu", "lix", "Ser", "da",  "Qui", "on"};
  static const char* const kRoles[] = {"assassin", "fighter", "mage",
                                       "marksman", "support", "tank"};
  static const char* const kTitles[] = {"the Quiet Blade", "Warden of the Dunes", "the Ember Tide",
                                        "Keeper of Lanterns", "the Restless"};
  nlohmann::json list = nlohmann::json::array();
  for (int i = 0; i < 200; ++i) {
    std::string name;
    for (int p = 0; p < 2 + i % 3; ++p) name += kSyllables[(i * 7 + p * 5) % 12];
    name += std::to_string(i);
    nlohmann::json c;
    c["id"] = 1 + i * 3;
    c["key"] = name;
    c["name"] = name;
    c["alias"] = name + "Alias";
    c["title"] = kTitles[i % 5];
    c["roles"] = {kRoles[i % 6], kRoles[(i + 2) % 6]};
    c["squarePortraitPath"] =
        "/mau-game-data/assets/v1/champion-icons/" + std::to_string(1 + i * 3) + ".png";
    c["difficulty"] = 1 + i % 10;
    c["attackRange"] = 125.0 + (i % 5) * 100.5;
    c["isFreeToPlay"] = i % 7 == 0;
    list.push_back(std::move(c));
  }
  return list.dump();
}

const std::string& JsonText(Doc doc) {
  static const std::string texts[] = {ReadFile("twitter.json"), ReadFile("citm_catalog.json"),
                                      ReadFile("canada.json"), MakeChampions()};
  return texts[static_cast<int>(doc)];
}

const std::vector<uint8_t>& MsgpackBytes(Doc doc) {
  static std::vector<uint8_t> bytes[4];
  std::vector<uint8_t>& b = bytes[static_cast<int>(doc)];
  if (b.empty()) b = nlohmann::json::to_msgpack(nlohmann::json::parse(JsonText(doc)));
  return b;
}

// ---------------------------------------------------------------- YAML form

bool IsPlainSafe(const std::string& s) {
  if (s.empty() || s.size() > 80) return false;
  const char first = s[0];
  if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first == '/')) {
    return false;
  }
  for (const char c : s) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '.' || c == '/' || c == '-' || c == ' ';
    if (!ok) return false;
  }
  if (s.back() == ' ') return false;
  static const char* const kReserved[] = {"y",     "Y",    "n",    "N",    "yes",  "Yes",   "YES",
                                          "no",    "No",   "NO",   "on",   "On",   "ON",    "off",
                                          "Off",   "OFF",  "true", "True", "TRUE", "false", "False",
                                          "FALSE", "null", "Null", "NULL", "inf",  "nan"};
  for (const char* r : kReserved) {
    if (s == r) return false;
  }
  return true;
}

void YamlScalar(const nlohmann::json& v, std::string& out) {
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    out += IsPlainSafe(s) ? s : v.dump();  // JSON's string form is a YAML double-quoted one
  } else if (v.is_object()) {
    out += "{}";
  } else if (v.is_array()) {
    out += "[]";
  } else {
    out += v.dump();
  }
}

bool IsBlock(const nlohmann::json& v) { return (v.is_object() || v.is_array()) && !v.empty(); }

// Block style, the way people write YAML; the node starts where the cursor is.
void YamlNode(const nlohmann::json& v, size_t indent, std::string& out) {
  if (v.is_object() && !v.empty()) {
    bool first = true;
    for (const auto& [key, child] : v.items()) {
      if (!first) out.append("\n").append(indent, ' ');
      first = false;
      YamlScalar(nlohmann::json(key), out);
      out += ':';
      if (IsBlock(child)) {
        out.append("\n").append(indent + 2, ' ');
        YamlNode(child, indent + 2, out);
      } else {
        out += ' ';
        YamlScalar(child, out);
      }
    }
  } else if (v.is_array() && !v.empty()) {
    bool first = true;
    for (const auto& child : v) {
      if (!first) out.append("\n").append(indent, ' ');
      first = false;
      out += "- ";
      if (IsBlock(child)) {
        YamlNode(child, indent + 2, out);
      } else {
        YamlScalar(child, out);
      }
    }
  } else {
    YamlScalar(v, out);
  }
}

const std::string& YamlText(Doc doc) {
  static std::string texts[4];
  std::string& t = texts[static_cast<int>(doc)];
  if (t.empty()) {
    YamlNode(nlohmann::json::parse(JsonText(doc)), 0, t);
    t += '\n';
  }
  return t;
}

// ---------------------------------------------------------------- JSON

void BM_Json_Value(benchmark::State& state, Doc doc) {
  const std::string& text = JsonText(doc);
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    mau::BindingResult result;
    mau::ParseJson(result, text);
    if (!result.ok()) state.SkipWithError(std::string(result.ErrorText()).c_str());
    benchmark::DoNotOptimize(&result);
  }
  counters.Report(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_Json_RapidjsonDom(benchmark::State& state, Doc doc) {
  const std::string& text = JsonText(doc);
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError()) state.SkipWithError("rapidjson parse error");
    benchmark::DoNotOptimize(&document);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_Json_Nlohmann(benchmark::State& state, Doc doc) {
  const std::string& text = JsonText(doc);
  for (auto _ : state) {
    nlohmann::json document = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(&document);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// One object of 200,000 members (about 3 MB) whose names come in ascending, descending or
// random order: what building a large structure costs apart from parsing.
void BM_Json_LargeObject(benchmark::State& state) {
  constexpr int kMembers = 200000;
  std::vector<int> order(kMembers);
  for (int i = 0; i < kMembers; ++i) order[i] = i;
  if (state.range(0) == 1) std::reverse(order.begin(), order.end());
  if (state.range(0) == 2) std::shuffle(order.begin(), order.end(), std::mt19937(7));
  std::string text = "{";
  char member[32];
  for (const int i : order) {
    std::snprintf(member, sizeof member, "%s\"m%06d\":%d", text.size() > 1 ? "," : "", i, i);
    text += member;
  }
  text += '}';
  for (auto _ : state) {
    mau::BindingResult result;
    mau::ParseJson(result, text);
    if (!result.ok()) state.SkipWithError(std::string(result.ErrorText()).c_str());
    benchmark::DoNotOptimize(&result);
  }
  state.SetLabel(state.range(0) == 0 ? "ascending" : state.range(0) == 1 ? "descending" : "random");
}
BENCHMARK(BM_Json_LargeObject)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- MessagePack

void BM_Msgpack_Value(benchmark::State& state, Doc doc) {
  const std::vector<uint8_t>& bytes = MsgpackBytes(doc);
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    mau::BindingResult result;
    size_t consumed = 0;
    mau::ReadMsgpack(result, consumed, bytes.data(), bytes.size());
    if (!result.ok() || consumed != bytes.size()) state.SkipWithError("MessagePack read failed");
    benchmark::DoNotOptimize(&result);
  }
  counters.Report(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_Msgpack_Cxx(benchmark::State& state, Doc doc) {
  const std::vector<uint8_t>& bytes = MsgpackBytes(doc);
  for (auto _ : state) {
    msgpack::object_handle handle =
        msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    benchmark::DoNotOptimize(&handle);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

// ---------------------------------------------------------------- YAML

void BM_Yaml_Value(benchmark::State& state, Doc doc) {
  const std::string& text = YamlText(doc);
  mau::bench::AllocationCounters counters;
  for (auto _ : state) {
    mau::BindingResult result;
    mau::ReadYaml(result, text);
    if (!result.ok()) state.SkipWithError(std::string(result.ErrorText()).c_str());
    benchmark::DoNotOptimize(&result);
  }
  counters.Report(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// libyaml's parser with nothing done per event: the floor under any YAML reader built on it.
void BM_Yaml_EventLoop(benchmark::State& state, Doc doc) {
  const std::string& text = YamlText(doc);
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    size_t events = 0;
    yaml_event_t event;
    for (bool done = false; !done;) {
      if (yaml_parser_parse(&parser, &event) == 0) {
        state.SkipWithError("libyaml parse error");
        break;
      }
      done = event.type == YAML_STREAM_END_EVENT;
      ++events;
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

#define MAU_READER_BENCHMARK(fn)                \
  BENCHMARK_CAPTURE(fn, twitter, Doc::Twitter); \
  BENCHMARK_CAPTURE(fn, citm, Doc::Citm);       \
  BENCHMARK_CAPTURE(fn, canada, Doc::Canada);   \
  BENCHMARK_CAPTURE(fn, champions, Doc::Champions)

MAU_READER_BENCHMARK(BM_Json_Value);
MAU_READER_BENCHMARK(BM_Json_RapidjsonDom);
MAU_READER_BENCHMARK(BM_Json_Nlohmann);
MAU_READER_BENCHMARK(BM_Msgpack_Value);
MAU_READER_BENCHMARK(BM_Msgpack_Cxx);
MAU_READER_BENCHMARK(BM_Yaml_Value);
MAU_READER_BENCHMARK(BM_Yaml_EventLoop);

}  // namespace
