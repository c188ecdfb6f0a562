#include "session_script.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <utility>
#include <vector>

namespace mau::host {

namespace {

// Re-serialising recurses once per level; refuse what nests deeper than any resource.
constexpr size_t kMaxDepth = 256;

bool NestsTooDeeply(const rapidjson::Value& root) {
  std::vector<std::pair<const rapidjson::Value*, size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    const auto [value, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxDepth) return true;
    if (value->IsArray()) {
      for (const auto& item : value->GetArray()) pending.emplace_back(&item, depth + 1);
    } else if (value->IsObject()) {
      for (const auto& member : value->GetObject()) pending.emplace_back(&member.value, depth + 1);
    }
  }
  return false;
}

}  // namespace

SessionLine ParseSessionLine(std::string_view text, int line) {
  SessionLine result;
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return result;

  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  const std::string where = "session line " + std::to_string(line) + ": ";
  if (document.HasParseError()) {
    result.error = where + "not valid JSON (" + GetParseError_En(document.GetParseError()) +
                   " at offset " + std::to_string(document.GetErrorOffset()) + ")";
    return result;
  }
  if (!document.IsObject()) {
    result.error = where + "not a JSON object";
    return result;
  }
  if (NestsTooDeeply(document)) {
    result.error = where + "nests too deeply";
    return result;
  }
  const auto uri = document.FindMember("uri");
  if (uri == document.MemberEnd() || !uri->value.IsString()) {
    result.error = where + "lacks \"uri\"";
    return result;
  }
  SessionStep step;
  step.line = line;
  step.uri = uri->value.GetString();
  if (const auto at = document.FindMember("at");
      at != document.MemberEnd() && at->value.IsNumber()) {
    step.at = at->value.GetDouble();
  }
  if (const auto del = document.FindMember("delete"); del != document.MemberEnd()) {
    step.remove = del->value.IsBool() && del->value.GetBool();
  }
  step.dataJson = "null";
  if (const auto data = document.FindMember("data"); data != document.MemberEnd()) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    data->value.Accept(writer);
    step.dataJson.assign(buffer.GetString(), buffer.GetSize());
  }
  result.step = std::move(step);
  return result;
}

}  // namespace mau::host
