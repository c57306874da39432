// The one door to the operating system. Everything else in the library speaks in Windows paths
// (either separator, case-insensitive) and calls these functions; posix.cpp and win32.cpp
// implement them. Nothing outside this folder includes <windows.h> or <dlfcn.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk::platform {

using ModuleHandle = void*;

// Modules. LoadModule takes a file name (with or without a directory) as LoadLibraryA does;
// returns null on failure. FindSymbol returns null when the name is absent. A stdcall name
// decorated as "_Name@N" is exported under that name on Win32; elsewhere, where a symbol cannot
// carry "@", FindSymbol also finds it under its C name "Name".
ModuleHandle LoadModule(const std::string& fileName);
void* FindSymbol(ModuleHandle module, const char* name);
// The full file name of a loaded module (for its version); empty on failure.
std::string ModuleFileName(ModuleHandle module);
void FreeModule(ModuleHandle module);
// Full file name of the host executable and of this library's own module; empty on failure.
std::string HostExecutableFileName();
std::string LibraryFileName();

// Environment of the process.
bool GetEnv(const std::string& name, std::string& value);
bool SetEnv(const std::string& name, const std::string& value);

// Files and directories. Paths are Windows paths; on POSIX both separators are accepted and a
// path that does not exist with its exact case is resolved component by component ignoring case.
std::string NativePath(const std::string& path);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsFile(const std::string& path);

struct DirEntry {
  std::string name;  // the file name only
  bool isDirectory = false;
};
// Lists a directory without "." and ".."; false when it cannot be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& entries);
bool RemoveFile(const std::string& path);
bool MoveFileTo(const std::string& from, const std::string& to);  // fails if `to` exists
bool MakeDirectory(const std::string& path);
// Size of a file in bytes, or -1 when it cannot be opened.
int64_t FileSize(const std::string& path);
// Whole-file read with an upper bound: false when the file cannot be read or is larger than maxSize.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, size_t maxSize = SIZE_MAX);
// Creates or replaces the file with exactly these bytes.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);
// Creates a file that does not exist yet with exactly these bytes, flushed to the disk; never
// replaces anything. On failure no file is left.
bool CreateNewFile(const std::string& path, const void* data, size_t size);
// Moves a file over `to` in one step, replacing a file of that name; fails for a directory there.
bool ReplaceFile(const std::string& from, const std::string& to);
// A short name, unused by any thread or process of this library, in the directory of `nearPath`,
// so that moving it to `nearPath` is a rename. Short, so that it fits wherever `nearPath` fits.
std::string TemporaryNameBeside(const std::string& nearPath);

// Tests only: a hook asked before each file change of this layer; true makes the change fail as
// the system would. Null removes it.
enum class FileChange { Create, Move, Remove };
using FileFaultHook = bool (*)(FileChange change, const std::string& path);
void SetFileFaultHookForTesting(FileFaultHook hook);

// Time. Now is the local date-time as days since 1899-12-30 with the time of day as the fraction.
double Now();
// A clock that never goes back, in milliseconds, for time-outs.
uint64_t MonotonicMilliseconds();
void SleepMilliseconds(uint32_t ms);
uint32_t CurrentThreadId();

// The calling thread's last system error (GetLastError on Win32, errno elsewhere) and the
// system's text for an error value (empty when the system has none).
uint32_t LastError();
std::string SystemErrorText(uint32_t code);

// File version (major.minor in ms, release.build in ls) from the file's version resource on
// Win32, or from its version record (platform/version_record.h) elsewhere; false when it has none.
bool FileVersion(const std::string& path, uint32_t& versionMS, uint32_t& versionLS);

}  // namespace zk::platform
