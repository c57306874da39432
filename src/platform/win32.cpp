// Win32 implementation of the platform layer: thin wrappers over the ANSI kernel functions.
// Paths are handed to Windows as given; it deals with case and with both separators.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // GetTickCount64, GetModuleHandleExA
#endif
#include <windows.h>
// winbase.h maps FreeModule to FreeLibrary; the layer's own function has that name.
#undef FreeModule
#undef ReplaceFile  // <windows.h> maps it to ReplaceFileA, which would rename ours

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/calendar.h"
#include "platform/faults.h"
#include "platform/platform.h"

namespace zk::platform {
namespace {

// LoadLibraryA documents backslashes only; the library may hand over either separator.
std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string FileNameOfModule(HMODULE module) {
  std::string buffer(512, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(module, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    // A name that fills the buffer may have been cut off: try again with more room.
    if (n < buffer.size()) return buffer.substr(0, n);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(h);
  }
  bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

HANDLE OpenForReading(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
  while (size > 0) {
    const DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 24));
    DWORD written = 0;
    if (!::WriteFile(file, data, part, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

}  // namespace

// --- Modules -------------------------------------------------------------------------------

ModuleHandle LoadModule(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  return ::LoadLibraryA(WithBackslashes(fileName).c_str());
}

void* FindSymbol(ModuleHandle module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  const FARPROC proc = ::GetProcAddress(static_cast<HMODULE>(module), name);
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(proc));
}

void FreeModule(ModuleHandle module) {
  if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
}

std::string ModuleFileName(ModuleHandle module) {
  return module == nullptr ? std::string() : FileNameOfModule(static_cast<HMODULE>(module));
}

std::string HostExecutableFileName() { return FileNameOfModule(nullptr); }

std::string LibraryFileName() {
  HMODULE self = nullptr;
  const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (!::GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(&LibraryFileName), &self)) return {};
  return FileNameOfModule(self);
}

// --- Environment ---------------------------------------------------------------------------

bool GetEnv(const std::string& name, std::string& value) {
  std::string buffer(256, '\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableA(name.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();  // present but empty
      return true;
    }
    if (n < buffer.size()) {
      value = buffer.substr(0, n);
      return true;
    }
    buffer.resize(n);  // n is the size needed, terminator included
  }
}

bool SetEnv(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::SetEnvironmentVariableA(name.c_str(), value.c_str()) != FALSE;
}

// --- Files and directories -----------------------------------------------------------------

std::string NativePath(const std::string& path) { return path; }

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& entries) {
  if (dir.empty()) return false;
  const char last = dir.back();
  const std::string pattern = dir + (last == '\\' || last == '/' || last == ':' ? "*" : "\\*");
  WIN32_FIND_DATAA found;
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // Only an existing directory without any entry (a bare drive root) answers "no files".
    if (::GetLastError() != ERROR_FILE_NOT_FOUND || !IsDirectory(dir)) return false;
    entries.clear();
    return true;
  }
  entries.clear();
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool RemoveFile(const std::string& path) {
  if (FileChangeFails(FileChange::Remove, path)) return false;
  return ::DeleteFileA(path.c_str()) != FALSE;
}

bool MoveFileTo(const std::string& from, const std::string& to) {
  if (FileChangeFails(FileChange::Move, to)) return false;
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool MakeDirectory(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

int64_t FileSize(const std::string& path) {
  Handle file(OpenForReading(path));
  LARGE_INTEGER size;
  if (!file.valid() || !::GetFileSizeEx(file.h, &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, size_t maxSize) {
  data.clear();
  Handle file(OpenForReading(path));
  LARGE_INTEGER size;
  if (!file.valid() || !::GetFileSizeEx(file.h, &size)) return false;
  if (static_cast<uint64_t>(size.QuadPart) > maxSize) return false;
  data.reserve(static_cast<size_t>(size.QuadPart));
  // Read to the end rather than trusting the size: the file may grow while we read it.
  uint8_t chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.h, chunk, sizeof chunk, &n, nullptr)) break;
    if (n == 0) return true;
    if (n > maxSize - data.size()) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  data.clear();
  return false;
}

bool CreateNewFile(const std::string& path, const void* data, size_t size) {
  if (data == nullptr && size > 0) return false;
  if (FileChangeFails(FileChange::Create, path)) return false;
  bool ok;
  {
    Handle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    ok = WriteAll(file.h, static_cast<const uint8_t*>(data), size) && ::FlushFileBuffers(file.h);
  }
  if (!ok) ::DeleteFileA(path.c_str());
  return ok;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (FileChangeFails(FileChange::Move, to)) return false;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return ::MoveFileExA(from.c_str(), to.c_str(), flags) != FALSE;
}

std::string TemporaryNameBeside(const std::string& nearPath) {
  static std::atomic<unsigned> counter{0};
  const size_t separator = nearPath.find_last_of("\\/:");
  const std::string dir = separator == std::string::npos ? std::string() : nearPath.substr(0, separator + 1);
  char name[48];
  std::snprintf(name, sizeof name, "~zk%lx.%x.tmp", static_cast<unsigned long>(::GetCurrentProcessId()),
                counter++);
  return dir + name;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
  // Written beside the target and moved over it, so a failed write never leaves a cut-off file in
  // place of the old one.
  const std::string temporary = TemporaryNameBeside(path);
  if (!CreateNewFile(temporary, data, size)) return false;
  if (ReplaceFile(temporary, path)) return true;
  ::DeleteFileA(temporary.c_str());
  return false;
}

// --- Time ----------------------------------------------------------------------------------

double Now() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return EncodeDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

uint64_t MonotonicMilliseconds() { return ::GetTickCount64(); }

void SleepMilliseconds(uint32_t ms) { ::Sleep(ms); }

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

uint32_t LastError() { return ::GetLastError(); }

std::string SystemErrorText(uint32_t code) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n != 0 && text != nullptr ? std::string(text, n) : std::string();
  if (text != nullptr) ::LocalFree(text);
  return result;
}

bool FileVersion(const std::string& path, uint32_t& versionMS, uint32_t& versionLS) {
  DWORD ignored = 0;
  const std::string file = WithBackslashes(path);
  const DWORD size = ::GetFileVersionInfoSizeA(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<uint8_t> block(size);
  if (!::GetFileVersionInfoA(file.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoSize)) return false;
  if (info == nullptr || infoSize < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD) return false;
  versionMS = info->dwFileVersionMS;
  versionLS = info->dwFileVersionLS;
  return true;
}

}  // namespace zk::platform
