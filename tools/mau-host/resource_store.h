// The reference host's resources: JSON files under a folder, overlaid by the changes a
// session script makes. The resource at URI /a/b is the file DIR/a/b, or DIR/a/b.json
// when that does not exist.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace mau::host {

class ResourceStore {
 public:
  explicit ResourceStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // The resource's JSON text; nullopt when there is none.
  std::optional<std::string> Get(const std::string& uri) const;
  bool Exists(const std::string& uri) const;
  void Set(const std::string& uri, std::string json);
  void Delete(const std::string& uri);

  // The file that backs a URI, or nullopt when the URI leaves the folder or has none.
  std::optional<std::filesystem::path> FileFor(const std::string& uri) const;

 private:
  static std::string Key(const std::string& uri);

  std::filesystem::path folder_;
  std::map<std::string, std::string> overrides_;
  std::set<std::string> deleted_;
};

}  // namespace mau::host
