// Child processes through CreateProcessW. Only Win32 code belongs in this file.
#include <windows.h>

#include "child_process.h"

namespace mau::test {

namespace {

// One argument quoted for the command line as the C runtime splits it again.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

std::wstring Widen(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

HANDLE OpenInherited(const std::filesystem::path& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& input, const std::filesystem::path& output,
                         std::string* error) {
  std::wstring commandLine = Quoted(program.wstring());
  for (const std::string& arg : args) commandLine += L" " + Quoted(Widen(arg));
  HANDLE in = OpenInherited(input, false);
  HANDLE out = OpenInherited(output, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info{};
  const BOOL started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                       CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr,
                                      nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  const DWORD failure = GetLastError();
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (!started) {
    *error = "cannot start " + program.string() + " (error " + std::to_string(failure) + ")";
    return false;
  }
  CloseHandle(info.hThread);
  child_ = reinterpret_cast<intptr_t>(info.hProcess);
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (child_ == 0) return -1;
  const auto process = reinterpret_cast<HANDLE>(child_);
  if (WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    Kill();
    return -1;
  }
  DWORD status = 0;
  GetExitCodeProcess(process, &status);
  CloseHandle(process);
  child_ = 0;
  return static_cast<int>(status);
}

bool ChildProcess::Signal(int) { return false; }

void ChildProcess::Kill() {
  if (child_ == 0) return;
  const auto process = reinterpret_cast<HANDLE>(child_);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  child_ = 0;
}

}  // namespace mau::test
