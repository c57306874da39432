#include "standin_files.h"

#include <cstdio>

namespace standin {

WriteResult WriteWholeFile(const char* path, const void* data, size_t size) {
  if (path == nullptr || (data == nullptr && size != 0)) return WriteResult::kOpenFailed;
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return WriteResult::kOpenFailed;
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;  // fwrite must not see a null
  WriteResult result = written ? WriteResult::kOk : WriteResult::kWriteFailed;
  if (std::fclose(f) != 0 && result == WriteResult::kOk) result = WriteResult::kCloseFailed;
  if (result != WriteResult::kOk) std::remove(path);
  return result;
}

}  // namespace standin
