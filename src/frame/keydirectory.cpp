#include "frame/keydirectory.h"

#include <algorithm>

#include "frame/fileutils.h"
#include "frame/publish.h"
#include "platform/platform.h"

namespace zk {

namespace {

constexpr size_t kMaxPathChars = 259;  // MAX_PATH less its terminating zero

bool SamePath(std::string a, std::string b) {
  auto fold = [](std::string& s) {
    for (char& c : s) {
      if (c == '/') c = '\\';
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  };
  fold(a);
  fold(b);
  return a == b;
}

bool Contains(const std::vector<std::string>& Paths, const std::string& Path) {
  return std::any_of(Paths.begin(), Paths.end(), [&](const std::string& p) { return SamePath(p, Path); });
}

}  // namespace

KeyDirectoryLayout PublicKeyFilesLayout() {
  KeyDirectoryLayout layout;
  layout.Ext = "pub";
  layout.Recursive = true;
  layout.NamedByUID = true;
  layout.NumberedPrefix = "pk";
  return layout;
}

std::string TKeyDirectoryFiles::Key(const std::string& UID) const {
  if (!layout_.IgnoreCase) return UID;
  std::string key = UID;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

std::string TKeyDirectoryFiles::NamedPath(const std::string& Dir, const std::string& UID) const {
  if (!layout_.NamedByUID || !IsPlainFileName(UID)) return std::string();
  const std::string path = IncludeDirDelimiter(Dir) + UID + "." + layout_.Ext;
  // Past MAX_PATH the ANSI file functions of Windows do not agree on what exists; such a UID gets
  // a numbered name on every system.
  return path.size() <= kMaxPathChars ? path : std::string();
}

std::vector<std::string> TKeyDirectoryFiles::ListFiles(const std::string& Dir) const {
  std::vector<std::string> files;
  if (!Dir.empty()) FindFilesByExtension(Dir, layout_.Ext, files, layout_.Recursive);
  return files;
}

KeyDirResult TKeyDirectoryFiles::Publish(const std::string& Dir, const std::string& UID, const void* Image,
                                         size_t Size, const std::vector<std::string>& OwnFiles,
                                         std::string& Written) const {
  if (Dir.empty() || !DirectoryExists(Dir)) return KeyDirResult::NoDirectory;
  std::vector<RetiredFile> retired;
  for (const std::string& file : OwnFiles) retired.push_back(RetiredFile{file, std::string()});
  // The UID's own name serves when it is free or already the UID's; a name the file system will
  // not take (too long, say) falls back to a numbered one, the old files still in place.
  const std::string named = NamedPath(Dir, UID);
  if (!named.empty()) {
    const bool ours = Contains(OwnFiles, named);
    if ((ours || !platform::PathExists(named)) && PublishFile(named, Image, Size, retired, ours)) {
      Written = named;
      return KeyDirResult::Ok;
    }
  }
  const std::string mask = layout_.NumberedPrefix + "*." + layout_.Ext;
  const int32_t number = NextNumberInMask(Dir, mask);
  if (number <= 0) return KeyDirResult::NoDirectory;
  const std::string numbered = IncludeDirDelimiter(Dir) + layout_.NumberedPrefix + std::to_string(number) + "." + layout_.Ext;
  if (!PublishFile(numbered, Image, Size, retired, false)) return KeyDirResult::WriteFailed;
  Written = numbered;
  return KeyDirResult::Ok;
}

}  // namespace zk
