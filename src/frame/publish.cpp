#include "frame/publish.h"

#include <utility>

#include "platform/platform.h"

namespace zk {

namespace {

std::string FoldedPath(const std::string& Path) {
  std::string folded = Path;
  for (char& c : folded) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

// The moves made so far, undone in reverse on failure; files set aside are deleted on success.
class FileChanges {
 public:
  ~FileChanges() {
    if (!committed_) Undo();
  }
  bool Move(const std::string& From, const std::string& To) {
    if (!platform::MoveFileTo(From, To)) return false;
    moves_.emplace_back(From, To);
    return true;
  }
  // Moves a file out of the way under a temporary name.
  bool SetAside(const std::string& Path) {
    const std::string aside = platform::TemporaryNameBeside(Path);
    if (!Move(Path, aside)) return false;
    asides_.push_back(aside);
    return true;
  }
  // The new file is in place: removing it is the undo.
  void Created(const std::string& Path) { created_ = Path; }
  void Commit() {
    committed_ = true;
    // Leftovers carry a temporary name and serve nothing, so a failure here loses nothing.
    for (const std::string& aside : asides_) platform::RemoveFile(aside);
  }

 private:
  void Undo() {
    if (!created_.empty()) platform::RemoveFile(created_);
    for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) platform::MoveFileTo(move->second, move->first);
  }

  std::vector<std::pair<std::string, std::string>> moves_;
  std::vector<std::string> asides_;
  std::string created_;
  bool committed_ = false;
};

bool RetireAll(FileChanges& Changes, const std::string& Target, const std::vector<RetiredFile>& Retired) {
  for (const RetiredFile& file : Retired) {
    if (FoldedPath(file.Path) == FoldedPath(Target)) continue;
    if (file.ArchiveAs.empty()) {
      if (!Changes.SetAside(file.Path)) return false;
      continue;
    }
    // Only a file of the archive name is dropped; anything else there stops the publication.
    if (platform::PathExists(file.ArchiveAs) && (!platform::IsFile(file.ArchiveAs) || !Changes.SetAside(file.ArchiveAs))) {
      return false;
    }
    if (!Changes.Move(file.Path, file.ArchiveAs)) return false;
  }
  return true;
}

}  // namespace

bool PublishFile(const std::string& Target, const void* Data, size_t Size, const std::vector<RetiredFile>& Retired,
                 bool Replace) {
  const std::string temporary = platform::TemporaryNameBeside(Target);
  if (!platform::CreateNewFile(temporary, Data, Size)) return false;
  FileChanges changes;
  bool done;
  if (Replace && platform::PathExists(Target)) {
    // Replacing is one step that cannot be undone, so it comes last: until then the old file serves.
    done = RetireAll(changes, Target, Retired) && platform::ReplaceFile(temporary, Target);
  } else if ((done = platform::MoveFileTo(temporary, Target))) {
    changes.Created(Target);
    done = RetireAll(changes, Target, Retired);
  }
  if (!done) {
    platform::RemoveFile(temporary);
    return false;  // the destructor puts back what was moved
  }
  changes.Commit();
  return true;
}

bool RemoveFilesTogether(const std::vector<std::string>& Paths) {
  FileChanges changes;
  for (const std::string& path : Paths) {
    // A file already gone needs no removing.
    if (platform::PathExists(path) && !changes.SetAside(path)) return false;  // the destructor puts back what was moved
  }
  changes.Commit();
  return true;
}

}  // namespace zk
