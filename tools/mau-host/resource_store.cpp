#include "resource_store.h"

#include <fstream>
#include <sstream>

namespace mau::host {

std::string ResourceStore::Key(const std::string& uri) {
  std::string key = uri.substr(0, uri.find('?'));
  if (key.empty() || key.front() != '/') key.insert(key.begin(), '/');
  return key;
}

std::optional<std::filesystem::path> ResourceStore::FileFor(const std::string& uri) const {
  const std::string key = Key(uri);
  std::filesystem::path relative;
  std::stringstream parts(key);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    if (part == "." || part == "..") return std::nullopt;  // stay inside the folder
    relative /= part;
  }
  if (relative.empty()) return std::nullopt;
  std::error_code ec;
  const std::filesystem::path exact = folder_ / relative;
  if (std::filesystem::is_regular_file(exact, ec)) return exact;
  std::filesystem::path withJson = exact;
  withJson += ".json";
  if (std::filesystem::is_regular_file(withJson, ec)) return withJson;
  return std::nullopt;
}

std::optional<std::string> ResourceStore::Get(const std::string& uri) const {
  const std::string key = Key(uri);
  if (auto it = overrides_.find(key); it != overrides_.end()) return it->second;
  if (deleted_.count(key) != 0) return std::nullopt;
  const auto file = FileFor(key);
  if (!file) return std::nullopt;
  std::ifstream in(*file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ResourceStore::Exists(const std::string& uri) const {
  const std::string key = Key(uri);
  if (overrides_.count(key) != 0) return true;
  if (deleted_.count(key) != 0) return false;
  return FileFor(key).has_value();
}

void ResourceStore::Set(const std::string& uri, std::string json) {
  const std::string key = Key(uri);
  deleted_.erase(key);
  overrides_[key] = std::move(json);
}

void ResourceStore::Delete(const std::string& uri) {
  const std::string key = Key(uri);
  overrides_.erase(key);
  deleted_.insert(key);
}

}  // namespace mau::host
