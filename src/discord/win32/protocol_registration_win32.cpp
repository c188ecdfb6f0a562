// URL-protocol registration in the registry under HKEY_CURRENT_USER. Only Win32 code
// belongs in this file.
#include "discord/win32/protocol_registration_win32.h"

#include <cstdio>
#include <cwchar>
#include <vector>

#include "discord/protocol_registration.h"

namespace mau::discord {

namespace {

// A wide-text buffer of fixed size that is always NUL-terminated; appends are cut to fit.
template <size_t Units>
class WideText {
 public:
  WideText() { text_[0] = L'\0'; }
  WideText& Append(const wchar_t* text) {
    while (*text != L'\0' && length_ + 1 < Units) text_[length_++] = *text++;
    text_[length_] = L'\0';
    return *this;
  }
  wchar_t* data() { return text_; }
  const wchar_t* c_str() const { return text_; }
  size_t length() const { return length_; }
  // Sets the length after the buffer was filled from outside; cuts to fit.
  void Terminate(size_t length) {
    length_ = length < Units ? length : Units - 1;
    text_[length_] = L'\0';
  }
  DWORD SizeInBytes() const { return static_cast<DWORD>((length_ + 1) * sizeof(wchar_t)); }

 private:
  wchar_t text_[Units];
  size_t length_ = 0;
};

// UTF-8 to UTF-16 into a 32-unit buffer; false when the text is absent or does not fit.
bool ConvertId(const char* utf8, WideText<32>& wide) {
  if (utf8 == nullptr) return false;
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), 32);
  if (units <= 0) return false;
  wide.Terminate(static_cast<size_t>(units - 1));
  return true;
}

LSTATUS SetText(const RegistryCalls& calls, HKEY key, const wchar_t* name, const wchar_t* text,
                DWORD bytes) {
  return calls.set_value_ex(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

// Creates `subkey` below `key` and sets its default value; false if either step failed.
template <size_t Units>
bool WriteSubkey(const RegistryCalls& calls, HKEY key, const wchar_t* subkey,
                 const WideText<Units>& value) {
  HKEY child = nullptr;
  if (calls.create_key(key, subkey, &child) != ERROR_SUCCESS) return false;
  const bool ok =
      SetText(calls, child, nullptr, value.c_str(), value.SizeInBytes()) == ERROR_SUCCESS;
  calls.close_key(child);
  return ok;
}

void RegisterWide(const WideText<32>& application_id, const WideText<1024>* given_command) {
  const RegistryCalls& calls = RegistryCallTable();
  WideText<260> module_path;
  module_path.Terminate(calls.get_module_file_name(nullptr, module_path.data(), 260));

  WideText<1024> command;
  command.Append(given_command != nullptr ? given_command->c_str() : module_path.c_str());
  WideText<64> protocol;
  protocol.Append(L"discord-").Append(application_id.c_str());
  WideText<128> description;
  description.Append(L"URL:Run game ").Append(application_id.c_str()).Append(L" protocol");
  WideText<256> key_path;
  key_path.Append(L"Software\\Classes\\").Append(protocol.c_str());

  HKEY key = nullptr;
  if (calls.create_key_ex(HKEY_CURRENT_USER, key_path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "Error creating key\n");
    return;
  }
  if (SetText(calls, key, nullptr, description.c_str(), description.SizeInBytes()) !=
      ERROR_SUCCESS) {
    std::fprintf(stderr, "Error writing description\n");
  }
  if (SetText(calls, key, L"URL Protocol", L"", sizeof(wchar_t)) != ERROR_SUCCESS) {
    std::fprintf(stderr, "Error writing description\n");
  }
  if (!WriteSubkey(calls, key, L"DefaultIcon", module_path)) {
    std::fprintf(stderr, "Error writing icon\n");
  }
  if (!WriteSubkey(calls, key, L"shell\\open\\command", command)) {
    std::fprintf(stderr, "Error writing command\n");
  }
  calls.close_key(key);
}

}  // namespace

RegistryCalls& RegistryCallTable() {
  static RegistryCalls calls = {&::RegCreateKeyExW,   &::RegCreateKeyW,    &::RegSetValueExW,
                                &::RegOpenKeyExW,     &::RegQueryValueExW, &::RegCloseKey,
                                &::GetModuleFileNameW};
  return calls;
}

void RegisterUrlProtocol(const char* application_id, const char* command) {
  WideText<32> id;
  if (!ConvertId(application_id, id)) {
    std::fprintf(stderr, "Error converting application id\n");
    return;
  }
  if (command == nullptr || command[0] == '\0') {
    RegisterWide(id, nullptr);
    return;
  }
  // A command longer than the 1024-unit buffer is cut, not refused.
  const int units = MultiByteToWideChar(CP_UTF8, 0, command, -1, nullptr, 0);
  if (units <= 0) {
    std::fprintf(stderr, "Error writing command\n");
    return;
  }
  std::vector<wchar_t> converted(static_cast<size_t>(units));
  MultiByteToWideChar(CP_UTF8, 0, command, -1, converted.data(), units);
  WideText<1024> wide_command;
  wide_command.Append(converted.data());
  RegisterWide(id, &wide_command);
}

void RegisterSteamGame(const char* application_id, const char* steam_game_id) {
  WideText<32> id;
  WideText<32> game;
  if (!ConvertId(application_id, id)) {
    std::fprintf(stderr, "Error converting application id\n");
    return;
  }
  if (!ConvertId(steam_game_id, game)) {
    std::fprintf(stderr, "Error converting Steam game id\n");
    return;
  }
  const RegistryCalls& calls = RegistryCallTable();
  HKEY key = nullptr;
  if (calls.open_key_ex(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    std::fprintf(stderr, "Error opening Steam key\n");
    return;
  }
  // The value need not end in a NUL: one unit more than the 520 bytes read keeps room.
  wchar_t steam_exe[261] = {};
  DWORD bytes = 520;
  const LSTATUS status = calls.query_value_ex(key, L"SteamExe", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(steam_exe), &bytes);
  calls.close_key(key);
  size_t units = status == ERROR_SUCCESS ? bytes / sizeof(wchar_t) : 0;
  if (units > 0 && steam_exe[units - 1] == L'\0') --units;  // the stored terminator
  if (units == 0) {
    std::fprintf(stderr, "Error reading SteamExe key\n");
    return;
  }
  steam_exe[units] = L'\0';
  for (size_t i = 0; i < units; ++i) {
    if (steam_exe[i] == L'/') steam_exe[i] = L'\\';
  }

  WideText<1024> command;
  command.Append(L"\"").Append(steam_exe).Append(L"\" steam://rungameid/").Append(game.c_str());
  RegisterWide(id, &command);
}

}  // namespace mau::discord
