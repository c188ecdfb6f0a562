// URL-protocol registration in the registry, read back from HKEY_CURRENT_USER. Only
// Win32 code belongs in this file.
#include "discord/win32/protocol_registration_win32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "discord/protocol_registration.h"
#include "platform/process_info.h"

namespace mau::discord {
namespace {

// The string value `name` (null: the default value) of HKCU\`key`, if there is one.
std::optional<std::wstring> ReadValue(const std::wstring& key, const wchar_t* name) {
  wchar_t data[2048];
  DWORD bytes = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

std::wstring ModulePath() {
  wchar_t path[260];
  return std::wstring(path, GetModuleFileNameW(nullptr, path, 260));
}

// Registry entries made by one test under its own ids, removed afterwards.
class ProtocolRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_calls_ = RegistryCallTable();
    DeleteKeys();
  }
  void TearDown() override {
    RegistryCallTable() = saved_calls_;
    DeleteKeys();
  }

  void DeleteKeys() {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Valve\\Steam");
  }

  void SetSteamExe(const wchar_t* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (path != nullptr) {
      RegSetValueExW(key, L"SteamExe", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                     static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
  }

  std::string Register(const char* command) {
    ::testing::internal::CaptureStderr();
    RegisterUrlProtocol(id_.c_str(), command);
    return ::testing::internal::GetCapturedStderr();
  }

  std::string RegisterSteam(const char* game) {
    ::testing::internal::CaptureStderr();
    RegisterSteamGame(id_.c_str(), game);
    return ::testing::internal::GetCapturedStderr();
  }

  std::optional<std::wstring> Command() const {
    return ReadValue(key_ + L"\\shell\\open\\command", nullptr);
  }

  const std::string id_ = "mau-test-" + std::to_string(CurrentProcessId());
  const std::wstring wide_id_ = std::wstring(id_.begin(), id_.end());
  const std::wstring key_ = L"Software\\Classes\\discord-" + wide_id_;
  RegistryCalls saved_calls_;
};

TEST_F(ProtocolRegistrationTest, KeysLaunchTheRunningProgram) {
  EXPECT_EQ(Register(nullptr), "");
  EXPECT_EQ(ReadValue(key_, nullptr), L"URL:Run game " + wide_id_ + L" protocol");
  EXPECT_EQ(ReadValue(key_, L"URL Protocol"), L"");
  EXPECT_EQ(ReadValue(key_ + L"\\DefaultIcon", nullptr), ModulePath());
  EXPECT_EQ(Command(), ModulePath());

  EXPECT_EQ(Register("C:\\Games\\mau.exe --discord"), "");
  EXPECT_EQ(Command(), L"C:\\Games\\mau.exe --discord");
  EXPECT_EQ(Register(""), "");
  EXPECT_EQ(Command(), ModulePath()) << "an empty command is no command";
}

TEST_F(ProtocolRegistrationTest, LongCommandIsCutToItsBuffer) {
  const std::string command(2000, 'c');
  EXPECT_EQ(Register(command.c_str()), "");
  EXPECT_EQ(Command(), std::wstring(1023, L'c'));
}

TEST_F(ProtocolRegistrationTest, SteamGameLaunchesThroughSteam) {
  SetSteamExe(L"C:/Steam/steam.exe");
  EXPECT_EQ(RegisterSteam("42"), "");
  EXPECT_EQ(Command(), L"\"C:\\Steam\\steam.exe\" steam://rungameid/42");
  EXPECT_EQ(ReadValue(key_ + L"\\DefaultIcon", nullptr), ModulePath());
}

TEST_F(ProtocolRegistrationTest, SteamFailures) {
  EXPECT_EQ(RegisterSteam("42"), "Error opening Steam key\n");
  SetSteamExe(nullptr);
  EXPECT_EQ(RegisterSteam("42"), "Error reading SteamExe key\n");
  SetSteamExe(L"");
  EXPECT_EQ(RegisterSteam("42"), "Error reading SteamExe key\n");
  EXPECT_EQ(ReadValue(key_, nullptr), std::nullopt) << "nothing is registered";
  EXPECT_EQ(RegisterSteam(std::string(40, '4').c_str()), "Error converting Steam game id\n");
}

LSTATUS WINAPI FailingCreateKeyEx(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                  const LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD) {
  return ERROR_ACCESS_DENIED;
}

LSTATUS WINAPI FailingCreateKey(HKEY, LPCWSTR, PHKEY) { return ERROR_ACCESS_DENIED; }

// Fails the first value written after set_value_calls is reset: the description.
int set_value_calls = 0;
LSTATUS WINAPI FailingFirstSetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                    const BYTE* data, DWORD bytes) {
  if (++set_value_calls == 1) return ERROR_ACCESS_DENIED;
  return RegSetValueExW(key, name, reserved, type, data, bytes);
}

TEST_F(ProtocolRegistrationTest, RegistryFailuresPrintTheirLines) {
  ::testing::internal::CaptureStderr();
  RegisterUrlProtocol(std::string(40, '1').c_str(), "game");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error converting application id\n");

  RegistryCallTable().create_key_ex = &FailingCreateKeyEx;
  EXPECT_EQ(Register("game"), "Error creating key\n");
  RegistryCallTable() = saved_calls_;

  RegistryCallTable().create_key = &FailingCreateKey;
  EXPECT_EQ(Register("game"), "Error writing icon\nError writing command\n");
  EXPECT_EQ(ReadValue(key_, L"URL Protocol"), L"") << "later values are still written";
  RegistryCallTable() = saved_calls_;

  DeleteKeys();
  set_value_calls = 0;
  RegistryCallTable().set_value_ex = &FailingFirstSetValue;
  EXPECT_EQ(Register("game"), "Error writing description\n");
  EXPECT_EQ(ReadValue(key_, nullptr), std::nullopt);
  EXPECT_EQ(Command(), L"game") << "later values are still written";
}

}  // namespace
}  // namespace mau::discord
