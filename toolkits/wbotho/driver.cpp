// The key driver: 16 slots of loaded key sets, filled from devices by InitKey. The key medium of a
// touch-memory reader or smart-card slot is a directory named through the control entry; whether
// it is attached is the control entry's device presence.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "wbotho_internal.h"

namespace wbotho {

namespace {

namespace fs = std::filesystem;

struct Slot {
  bool used = false;
  KeySet set;
  std::string device;  // the upper-cased touch-memory or smart-card name; empty for a directory
};

struct Driver {
  std::mutex lock;
  std::array<Slot, zk::verbaow::kDriverSlots> slots;
  std::map<std::string, std::string> media;  // device name -> directory of its key sets
  size_t signaturePadding = 0;
};

Driver& State() {
  static standin::Immortal<Driver> driver;
  return driver.get();
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool HasExtension(const fs::path& p, const char* ext) { return Upper(p.extension().string()) == ext; }

// Key sets of a device directory, in name order; damaged files are skipped.
std::vector<Bytes> ReadKeySetFiles(const std::string& dir) {
  std::vector<fs::path> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && HasExtension(it->path(), ".VKS")) names.push_back(it->path());
  }
  std::sort(names.begin(), names.end());
  std::vector<Bytes> files;
  for (const fs::path& name : names) {
    std::FILE* f = std::fopen(name.string().c_str(), "rb");
    if (f == nullptr) continue;
    Bytes data(kKeySetFileSize + 1);
    data.resize(std::fread(data.data(), 1, data.size(), f));
    std::fclose(f);
    files.push_back(std::move(data));
  }
  return files;
}

// A key loaded from a touch memory or smart card serves only while that device is attached.
int Usable(const Slot& slot) {
  return slot.device.empty() || standin::DeviceAttached(slot.device.c_str()) ? kOk : kDeviceUnreadable;
}

template <typename Match>
int FindLoaded(Match match, KeySet& out) {
  Driver& d = State();
  std::lock_guard<std::mutex> hold(d.lock);
  for (const Slot& slot : d.slots) {
    if (!slot.used || !match(slot.set)) continue;
    if (int code = Usable(slot)) return code;
    out.encId = slot.set.encId;
    out.signId = slot.set.signId;
    std::memcpy(out.dE, slot.set.dE, 32);
    std::memcpy(out.dS, slot.set.dS, 32);
    return kOk;
  }
  return kKeyMissing;
}

void Release(Slot& slot) {
  slot.used = false;
  gost::Wipe(slot.set.dE, 32);
  gost::Wipe(slot.set.dS, 32);
  slot.set.encId.clear();
  slot.set.signId.clear();
  slot.device.clear();
}

}  // namespace

bool IsRemovableDevice(const std::string& device) {
  const std::string name = Upper(device);
  return name.rfind("TM:", 0) == 0 || name.rfind("SC:", 0) == 0;
}

int DeviceDirectory(const std::string& device, std::string& dir) {
  if (IsRemovableDevice(device)) {
    if (!standin::DeviceAttached(device.c_str())) return kDeviceUnreadable;
    Driver& d = State();
    std::lock_guard<std::mutex> hold(d.lock);
    auto it = d.media.find(Upper(device));
    if (it == d.media.end()) return kDeviceUnreadable;  // a reader without a key
    dir = it->second;
    return kOk;
  }
  std::error_code ec;
  if (!fs::is_directory(device, ec)) return kDeviceUnreadable;
  dir = device;
  return kOk;
}

int DeviceControl(const std::vector<std::string>& words) {
  Driver& d = State();
  std::lock_guard<std::mutex> hold(d.lock);
  if (words.size() == 3 && words[0] == "medium" && IsRemovableDevice(words[1])) {
    d.media[Upper(words[1])] = words[2];  // the directory: the rest of the command
    return 0;
  }
  if (words.size() == 2 && words[0] == "siglen") {
    // At most 4096 bytes: what a caller of the real toolkit provides for a signature.
    d.signaturePadding = static_cast<size_t>(std::clamp(std::strtol(words[1].c_str(), nullptr, 10), 0L, 4096L));
    return 0;
  }
  if (words.size() == 1 && words[0] == "reset") {
    // The control entry's own reset also empties the driver and forgets every key medium.
    for (Slot& slot : d.slots) Release(slot);
    d.media.clear();
    d.signaturePadding = 0;
  }
  return -2;
}

size_t TakeSignaturePadding() {
  Driver& d = State();
  std::lock_guard<std::mutex> hold(d.lock);
  return std::exchange(d.signaturePadding, 0);
}

int FindLoadedBySignId(const std::string& signId, KeySet& out) {
  return FindLoaded([&](const KeySet& s) { return s.signId == signId; }, out);
}

int FindLoadedByKeyNumber(int keyNumber, KeySet& out) {
  return FindLoaded([&](const KeySet& s) { return s.KeyNumber() == keyNumber; }, out);
}

}  // namespace wbotho

using namespace wbotho;

// Every key set on the device not yet in the driver goes into the lowest free slot.
STANDIN_EXPORT int16_t WB_CALL InitKey(const char* device, const char* password) {
  WBOTHO_HOOK("InitKey");
  if (device == nullptr) return kBadParameter;
  std::string dir;
  if (int code = DeviceDirectory(device, dir)) return static_cast<int16_t>(code);
  std::vector<KeySet> sets;
  for (const Bytes& file : ReadKeySetFiles(dir)) {
    KeySet set;
    if (ParseKeySet(file, set)) sets.push_back(set);
  }
  if (sets.empty()) return kKeyMissing;
  Driver& d = State();
  std::lock_guard<std::mutex> hold(d.lock);
  int loaded = 0;
  for (const KeySet& set : sets) {
    const bool present = std::any_of(d.slots.begin(), d.slots.end(),
                                     [&](const Slot& s) { return s.used && s.set.encId == set.encId; });
    if (present) continue;
    auto free = std::find_if(d.slots.begin(), d.slots.end(), [](const Slot& s) { return !s.used; });
    if (free == d.slots.end()) return kNoFreeSlot;
    free->used = true;
    free->set.encId = set.encId;
    free->set.signId = set.signId;
    std::memcpy(free->set.dE, set.dE, 32);
    std::memcpy(free->set.dS, set.dS, 32);
    free->device = IsRemovableDevice(device) ? Upper(device) : std::string();
    ++loaded;
  }
  return loaded > 0 ? kOk : kKeyAlreadyLoaded;
}

STANDIN_EXPORT int16_t WB_CALL ResetKeyEx(const char* keyId, int32_t mode) {
  WBOTHO_HOOK("ResetKeyEx");
  if (keyId == nullptr) return kBadParameter;
  Driver& d = State();
  std::lock_guard<std::mutex> hold(d.lock);
  for (Slot& slot : d.slots) {
    if (slot.used && (slot.set.encId == keyId || slot.set.signId == keyId)) {
      Release(slot);
      return kOk;
    }
  }
  return kKeyMissing;
}

// Generation 4 records carry identifiers and slot number; later generations add the key number
// as a 16-bit value at 24 and a marker the binding does not read at 26.
STANDIN_EXPORT int16_t WB_CALL GetDrvInfo(uint8_t* records, int32_t* count) {
  WBOTHO_HOOK("GetDrvInfo");
  if (records == nullptr || count == nullptr) return kBadParameter;
  Driver& d = State();
  std::lock_guard<std::mutex> hold(d.lock);
  int32_t n = 0;
  for (size_t i = 0; i < d.slots.size(); ++i) {
    const Slot& slot = d.slots[i];
    if (!slot.used) continue;
    uint8_t* r = records + n * zk::verbaow::kSlotRecordSize;
    std::memset(r, 0, zk::verbaow::kSlotRecordSize);
    std::memcpy(r + zk::verbaow::kRecordEncodeId, slot.set.encId.data(), kEncIdChars);
    std::memcpy(r + zk::verbaow::kRecordSignId, slot.set.signId.data(), kSignIdChars);
    if (kGeneration >= 5) {
      PutLe(r + zk::verbaow::kRecordValue16, static_cast<uint64_t>(slot.set.KeyNumber()), 2);
      r[26] = 0xA5;
      r[27] = 0x5A;
    }
    PutLe(r + zk::verbaow::kRecordSlot, i, 4);
    ++n;
  }
  *count = n;
  return kOk;
}

STANDIN_EXPORT int StandIn_Control(const char* command) {
  if (command == nullptr) return -1;
  // Words split at blanks; "medium <device> <directory>" keeps the directory whole.
  std::vector<std::string> words;
  for (const char* p = command; *p != '\0';) {
    while (*p == ' ') ++p;
    const char* start = p;
    const bool rest = words.size() == 2 && words[0] == "medium";
    while (*p != '\0' && (rest || *p != ' ')) ++p;
    if (p > start) words.emplace_back(start, p);
  }
  if (words.empty()) return -1;
  const int own = DeviceControl(words);
  return own != -2 ? own : standin::Control(command);
}
