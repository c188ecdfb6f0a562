// URL-protocol registration through an XDG desktop entry. Only POSIX code belongs in
// this file.
//
// The entry "discord-<id>.desktop" goes to $XDG_DATA_HOME/applications (by default
// ~/.local/share/applications) and declares the MIME type x-scheme-handler/discord-<id>;
// "xdg-mime default" then makes it that scheme's handler, when xdg-mime is installed.
#include "discord/posix/protocol_registration_posix.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "discord/protocol_registration.h"
#include "platform/process_info.h"

extern char** environ;

namespace mau::discord {

namespace {

// Ids become part of a file name and a MIME type: keep them to what both allow, and to
// the 31 characters the Windows variant takes.
constexpr size_t kMaxIdLength = 31;

bool IsValidId(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdLength) return false;
  for (const char c : id) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return id != "." && id != "..";
}

// A desktop entry value ends at the line's end: control characters cannot be written.
bool IsSingleLine(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::string DesktopExecArgument(std::string_view argument) {
  const std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = argument.empty();
  for (const char c : argument) quote = quote || reserved.find(c) != std::string_view::npos;
  std::string quoted;
  if (quote) quoted += '"';
  for (const char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted += '\\';
    quoted += c;
  }
  if (quote) quoted += '"';
  std::string value;
  for (const char c : quoted) {
    if (c == '\\') {
      value += "\\\\";
    } else if (c == '%') {
      value += "%%";
    } else {
      value += c;
    }
  }
  return value;
}

namespace {

std::string DataHome() {
  if (const char* data_home = std::getenv("XDG_DATA_HOME"); data_home && data_home[0] == '/') {
    return data_home;
  }
  std::string home;
  if (const char* value = std::getenv("HOME"); value && value[0] != '\0') {
    home = value;
  } else {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return home + "/.local/share";
}

// mkdir -p for the directories of the entry.
bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes the file whole or not at all: a temporary beside it, renamed over it.
bool WriteFileAtomically(const std::string& path, const std::string& contents) {
  const std::string temporary = path + ".tmp-" + std::to_string(CurrentProcessId());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == contents.size() && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Runs "xdg-mime default <entry> <mime type>" when xdg-mime is on the PATH.
void SetDefaultHandler(const std::string& entry_name, const std::string& mime_type) {
  char program[] = "xdg-mime";
  char verb[] = "default";
  std::string entry = entry_name;
  std::string type = mime_type;
  char* argv[] = {program, verb, entry.data(), type.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0) return;  // not installed
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited == child && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    std::fprintf(stderr, "Error setting the URL handler\n");
  }
}

}  // namespace

void RegisterUrlProtocol(const char* application_id, const char* command) {
  const std::string_view id = application_id != nullptr ? application_id : "";
  if (!IsValidId(id)) {
    std::fprintf(stderr, "Error converting application id\n");
    return;
  }

  std::string exec;
  if (command != nullptr && command[0] != '\0') {
    exec = command;
  } else {
    char path[4096];
    if (!ReadExecutablePath(path, sizeof path)) {
      std::fprintf(stderr, "Error writing command\n");
      return;
    }
    exec = DesktopExecArgument(path);
  }
  if (!IsSingleLine(exec)) {
    std::fprintf(stderr, "Error writing command\n");
    return;
  }

  const std::string protocol = "discord-" + std::string(id);
  const std::string data_home = DataHome();
  const std::string directory = data_home + "/applications";
  if (data_home.empty() || !MakeDirectories(directory)) {
    std::fprintf(stderr, "Error creating key\n");
    return;
  }
  const std::string entry_name = protocol + ".desktop";
  const std::string contents =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=URL:Run game " +
      std::string(id) +
      " protocol\n"
      "NoDisplay=true\n"
      "Exec=" +
      exec +
      "\n"
      "MimeType=x-scheme-handler/" +
      protocol + ";\n";
  if (!WriteFileAtomically(directory + "/" + entry_name, contents)) {
    std::fprintf(stderr, "Error creating key\n");
    return;
  }
  SetDefaultHandler(entry_name, "x-scheme-handler/" + protocol);
}

void RegisterSteamGame(const char* application_id, const char* steam_game_id) {
  const std::string_view game = steam_game_id != nullptr ? steam_game_id : "";
  if (!IsValidId(game)) {
    std::fprintf(stderr, "Error converting Steam game id\n");
    return;
  }
  const std::string command = "xdg-open steam://rungameid/" + std::string(game);
  RegisterUrlProtocol(application_id, command.c_str());
}

}  // namespace mau::discord
