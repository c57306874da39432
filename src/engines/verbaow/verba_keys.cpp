// The keys this library has loaded into the toolkit's key driver: which, since when and how long
// they may serve (both time-outs on the monotonic clock), and the rules that load, reuse, reset
// and move them into slot 0.
#include <algorithm>
#include <cstring>
#include <map>

#include "engines/verbaow/verba_codes.h"
#include "engines/verbaow/verba_dll.h"
#include "frame/keytimeouts.h"
#include "frame/lefields.h"
#include "frame/rwsyncs.h"

namespace zk::verbaow {

namespace {

struct LoadedKeys {
  TCriticalSection lock;
  std::map<std::string, TKeyTimeouts> keys;
  bool firstUse = false;  // set once any key has been listed
};

LoadedKeys& List() {
  static LoadedKeys list;
  return list;
}

// A field of a driver record up to its first zero, never past its own bytes.
std::string Field(const uint8_t* record, size_t at, size_t chars) {
  const char* p = reinterpret_cast<const char*>(record + at);
  return std::string(p, strnlen(p, chars));
}

const DriverRecord* FindRecord(const std::vector<DriverRecord>& records, const std::string& id) {
  for (const DriverRecord& r : records) {
    if ((id.size() == kEncodeIDLength ? r.EncodeId : r.SignId) == id) return &r;
  }
  return nullptr;
}

// The other identifier of the key set that holds id.
std::string Companion(const DriverRecord& record, const std::string& id) {
  return id.size() == kEncodeIDLength ? record.SignId : record.EncodeId;
}

void Renew(TKeyTimeouts& entry, int32_t requestTimeout, int32_t lastOpTimeout, uint64_t now) {
  entry.Loaded(requestTimeout, now);
  entry.Used(lastOpTimeout, now);
}

}  // namespace

void TVerbaODLL::ForgetKeys() {
  LoadedKeys& list = List();
  SectionLock hold(list.lock);
  list.keys.clear();
}

int32_t TVerbaODLL::ReadDriver(std::vector<DriverRecord>& Records) {
  uint8_t raw[kDriverSlots * kSlotRecordSize] = {};
  int32_t count = 0;
  const int32_t code = api_.GetDrvInfo(raw, &count);
  if (code != kOk) return kErrDriver;
  // The count comes from outside: no more records than the array holds.
  count = std::clamp<int32_t>(count, 0, kDriverSlots);
  Records.clear();
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* r = raw + i * kSlotRecordSize;
    DriverRecord record;
    record.EncodeId = Field(r, kRecordEncodeId, kEncodeIdChars);
    record.SignId = Field(r, kRecordSignId, kSignIdChars);
    // Later generations put a 16-bit value at 24 where generation 4 has none; the identifiers
    // and the slot number at 28 read the same in every generation.
    record.Slot = static_cast<int32_t>(ReadLE32(r + kRecordSlot));
    Records.push_back(record);
  }
  return kOk;
}

int32_t TVerbaODLL::FreeSlotZero(const std::vector<DriverRecord>& Records) {
  auto zero = std::find_if(Records.begin(), Records.end(), [](const DriverRecord& r) { return r.Slot == 0; });
  if (zero == Records.end() || (zero->EncodeId.empty() && zero->SignId.empty())) return kOk;
  if (api_.ResetKeyEx(zero->EncodeId.c_str(), 1) == kOk) return kOk;
  return api_.ResetKeyEx(zero->SignId.c_str(), 1) == kOk ? kOk : kErrDriver;
}

// InitKey through the device wait; the key must then be in the driver, whatever the device held.
int32_t TVerbaODLL::LoadFromDevice(const std::string& KeyID, DriverRecord& Loaded) {
  const int32_t code = WithDevice([&] { return api_.InitKey(Device.Name.c_str(), ""); });
  if (code != kOk) return code;
  std::vector<DriverRecord> records;
  if (ReadDriver(records) != kOk) return kErrDriver;
  const DriverRecord* record = FindRecord(records, KeyID);
  if (record == nullptr) return kToolkitKeyMissing;
  Loaded = *record;
  return kOk;
}

int32_t TVerbaODLL::LoadKey(const std::string& KeyID, bool Mode, bool KeepDriverKeys, int32_t RequestTimeout,
                            int32_t LastOperationTimeout) {
  if (KeyID.size() != kEncodeIDLength && KeyID.size() != kSignIDLength) return kErrIdentifier;
  LoadedKeys& list = List();
  SectionLock hold(list.lock);
  std::vector<DriverRecord> records;
  if (ReadDriver(records) != kOk) return kErrDriver;
  const uint64_t now = TKeyTimeouts::Now();
  if (!list.firstUse && KeepDriverKeys) {
    for (const DriverRecord& r : records) {
      for (const std::string* id : {&r.EncodeId, &r.SignId}) {
        if (!id->empty()) Renew(list.keys[*id], RequestTimeout, LastOperationTimeout, now);
      }
    }
  }
  list.firstUse = list.firstUse || !list.keys.empty();
  const DriverRecord* inDriver = FindRecord(records, KeyID);
  const bool inSlotZero = inDriver != nullptr && inDriver->Slot == 0;
  auto entry = list.keys.find(KeyID);
  bool reload = true;
  if (entry == list.keys.end()) {
    if (inDriver != nullptr) {
      if (api_.ResetKeyEx(KeyID.c_str(), 1) != kOk) return kErrDriver;
      if (ReadDriver(records) != kOk) return kErrDriver;
    }
    const bool full = records.size() >= static_cast<size_t>(kDriverSlots);
    if (Mode || full) {
      if (int32_t code = FreeSlotZero(records)) return code;
    }
  } else {
    if (Mode && !inSlotZero) {
      if (int32_t code = FreeSlotZero(records)) return code;
    }
    const bool reusable = inDriver != nullptr && (!Mode || inSlotZero) &&
                          !entry->second.Expired(RequestTimeout, LastOperationTimeout, now);
    if (reusable) {
      reload = false;
    } else if (inDriver != nullptr && api_.ResetKeyEx(KeyID.c_str(), 1) != kOk) {
      return kErrDriver;
    }
  }
  DriverRecord record = inDriver != nullptr ? *inDriver : DriverRecord();
  if (reload) {
    if (int32_t code = LoadFromDevice(KeyID, record)) return code;
    Renew(list.keys[KeyID], RequestTimeout, LastOperationTimeout, now);
  } else {
    list.keys[KeyID].Used(LastOperationTimeout, now);
  }
  const std::string companion = Companion(record, KeyID);
  if (!companion.empty()) {
    TKeyTimeouts& other = list.keys[companion];
    reload ? Renew(other, RequestTimeout, LastOperationTimeout, now) : other.Used(LastOperationTimeout, now);
  }
  list.firstUse = true;
  return kOk;
}

}  // namespace zk::verbaow
