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
  // Parsing a (pointer, length) skips a UTF-8 byte-order mark, as a file written by an
  // editor on Windows starts with.
  document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  const std::string where = "session line " + std::to_string(line) + ": ";
  const auto reject = [&](const std::string& why) {
    result.error = where + why;
    return result;
  };
  if (document.HasParseError()) {
    return reject(std::string("not valid JSON (") + GetParseError_En(document.GetParseError()) +
                  " at offset " + std::to_string(document.GetErrorOffset()) + ")");
  }
  if (!document.IsObject()) return reject("not a JSON object");
  if (NestsTooDeeply(document)) return reject("nests too deeply");
  const auto uri = document.FindMember("uri");
  if (uri == document.MemberEnd()) return reject("lacks \"uri\"");
  if (!uri->value.IsString()) return reject("uri must be a string");
  SessionStep step;
  step.line = line;
  step.uri.assign(uri->value.GetString(), uri->value.GetStringLength());
  if (const auto at = document.FindMember("at"); at != document.MemberEnd()) {
    // JSON has no infinity or NaN: a number here is finite.
    if (!at->value.IsNumber() || at->value.GetDouble() < 0) {
      return reject("at must be a number of seconds, 0 or more");
    }
    step.at = at->value.GetDouble();
  }
  if (const auto del = document.FindMember("delete"); del != document.MemberEnd()) {
    if (!del->value.IsBool()) return reject("delete must be true or false");
    step.remove = del->value.GetBool();
  }
  const auto data = document.FindMember("data");
  if (step.remove) {
    if (data != document.MemberEnd()) return reject("has both \"data\" and \"delete\": true");
    step.dataJson = "null";
  } else {
    if (data == document.MemberEnd()) return reject("lacks \"data\" (or \"delete\": true)");
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    data->value.Accept(writer);
    step.dataJson.assign(buffer.GetString(), buffer.GetSize());
  }
  result.step = std::move(step);
  return result;
}

}  // namespace mau::host
