#include "standin_files.h"

#include <cstdio>

namespace standin {

WriteResult WriteWholeFile(const char* path, const void* data, size_t size) {
  if (path == nullptr || (data == nullptr && size != 0)) return WriteResult::kOpenFailed;
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return WriteResult::kOpenFailed;
  WriteResult result = std::fwrite(data, 1, size, f) == size ? WriteResult::kOk : WriteResult::kWriteFailed;
  if (std::fclose(f) != 0 && result == WriteResult::kOk) result = WriteResult::kCloseFailed;
  if (result != WriteResult::kOk) std::remove(path);
  return result;
}

}  // namespace standin
