#include "engines/excellence/exc4_passwords.h"

namespace zk::excellence {

TExc4PasswordCash& TExc4PasswordCash::Instance() {
  static TExc4PasswordCash cache;
  return cache;
}

bool TExc4PasswordCash::Reusable(const std::string& Key, int32_t PwdTimeout, int32_t LastOpTimeout,
                                 std::string& Password) {
  const auto found = entries_.find(Key);
  if (found == entries_.end()) return false;
  if (found->second.Timeouts.Expired(PwdTimeout, LastOpTimeout, TKeyTimeouts::Now())) {
    // Out of date for good: the time-outs only ever shrink what remains.
    entries_.erase(found);
    return false;
  }
  const SecureBytes& stored = found->second.Password;
  Password.assign(reinterpret_cast<const char*>(stored.data()), stored.size());
  return true;
}

void TExc4PasswordCash::Entered(const std::string& Key, const std::string& Password, int32_t PwdTimeout,
                                int32_t LastOpTimeout) {
  Entry& entry = entries_[Key];
  entry.Password.Assign(reinterpret_cast<const uint8_t*>(Password.data()), Password.size());
  const uint64_t now = TKeyTimeouts::Now();
  entry.Timeouts.Loaded(PwdTimeout, now);
  entry.Timeouts.Used(LastOpTimeout, now);
}

void TExc4PasswordCash::Used(const std::string& Key, int32_t LastOpTimeout) {
  const auto found = entries_.find(Key);
  if (found != entries_.end()) found->second.Timeouts.Used(LastOpTimeout, TKeyTimeouts::Now());
}

void TExc4PasswordCash::Forget(const std::string& Key) { entries_.erase(Key); }

void TExc4PasswordCash::Clear() { entries_.clear(); }

}  // namespace zk::excellence
