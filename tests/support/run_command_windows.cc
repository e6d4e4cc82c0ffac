// Windows: running a program with CreateProcessW, its standard output and
// error read through pipes, standard input the null device.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <stdexcept>
#include <thread>

#include "support/test_util.h"

namespace quorvel::testing {
namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      units);
  return wide;
}

// One argument quoted the way the C runtime splits a command line: inside
// quotes, backslashes are literal unless they precede a quote.
void append_argument(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

struct NameLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
  }
};

// This process's environment with `changes` applied (an empty value
// removes the variable), as a sorted block for CreateProcessW.
std::wstring environment_block(const std::map<std::string, std::string>& changes) {
  std::map<std::wstring, std::wstring, NameLess> variables;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    std::wstring text(entry);
    // Entries such as "=C:=C:\\dir" keep their leading '='.
    std::size_t equals = text.find(L'=', 1);
    if (equals == std::wstring::npos) continue;
    variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  if (strings != nullptr) FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : changes) {
    if (value.empty()) {
      variables.erase(widen(name));
    } else {
      variables[widen(name)] = widen(value);
    }
  }
  std::wstring block;
  for (const auto& [name, value] : variables) {
    block += name;
    block += L'=';
    block += value;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

// Reads a pipe to its end.
void drain(HANDLE pipe, std::string& sink) {
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) sink.append(buffer, got);
}

// The console streams of a Windows program are in text mode: each line
// ends with CR LF. The tests compare against the program's own line ends.
std::string without_carriage_returns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

struct Handle {
  HANDLE value = nullptr;
  ~Handle() {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
  void close() {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) CloseHandle(value);
    value = nullptr;
  }
};

}  // namespace

ProgramResult run_command(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env,
                          const std::filesystem::path& cwd) {
  if (argv.empty()) throw std::invalid_argument("no program to run");
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle out_read, out_write, err_read, err_write, null_in;
  if (!CreatePipe(&out_read.value, &out_write.value, &inherit, 0) ||
      !CreatePipe(&err_read.value, &err_write.value, &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  SetHandleInformation(out_read.value, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read.value, HANDLE_FLAG_INHERIT, 0);
  null_in.value = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);

  std::wstring command_line;
  for (const std::string& argument : argv) append_argument(command_line, widen(argument));
  std::wstring environment = environment_block(env);
  std::wstring directory = cwd.empty() ? std::wstring() : cwd.wstring();

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.value;
  startup.hStdOutput = out_write.value;
  startup.hStdError = err_write.value;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                                CREATE_UNICODE_ENVIRONMENT, environment.data(),
                                directory.empty() ? nullptr : directory.c_str(), &startup,
                                &process);
  out_write.close();
  err_write.close();
  ProgramResult result;
  if (!started) {
    // As a shell reports a program it cannot run.
    result.exit_code = 127;
    result.err = "cannot run " + argv[0] + ": error " + std::to_string(GetLastError()) + "\n";
    return result;
  }
  Handle process_handle{process.hProcess};
  Handle thread_handle{process.hThread};

  std::thread error_reader([&] { drain(err_read.value, result.err); });
  drain(out_read.value, result.out);
  error_reader.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  result.exit_code = static_cast<int>(code);
  result.out = without_carriage_returns(result.out);
  result.err = without_carriage_returns(result.err);
  return result;
}

}  // namespace quorvel::testing
