// Replacing a key, certificate or CRL file without ever leaving nothing in its place.
//
// The new file is written under a short temporary name in the target's directory, moved into
// place, and only then are the files it supersedes taken out of service. A failure at any step
// undoes the steps before it, so the previous files still serve.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zk {

// A file to take out of service once its replacement serves: deleted, or renamed to ArchiveAs
// (a file already of that name is dropped).
struct RetiredFile {
  std::string Path;
  std::string ArchiveAs;
};

// Publishes Size bytes of Data as Target. With Replace an existing file Target is replaced in one
// step (the old file serves until then); without, Target must not exist yet. Retired files equal
// to Target are ignored. True on success; false leaves every file as it was.
bool PublishFile(const std::string& Target, const void* Data, size_t Size, const std::vector<RetiredFile>& Retired,
                 bool Replace);

// Takes the files out of service together: all are deleted, or none is. True on success.
bool RemoveFilesTogether(const std::vector<std::string>& Paths);

}  // namespace zk
