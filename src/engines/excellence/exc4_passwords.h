// The process-wide password cache of the Excellence engines: one password per user (keyed by the
// engine type and the user's UID), reused silently by any Excellence engine of the process while
// both time-outs hold: "Password request time out" seconds since it was typed and "Last operation
// password time out" seconds since its last use, both on the monotonic clock of the key holders.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "frame/keytimeouts.h"
#include "frame/rwsyncs.h"
#include "frame/secure.h"

namespace zk::excellence {

class TExc4PasswordCash {
 public:
  static TExc4PasswordCash& Instance();

  // Held across a toolkit call and the host's prompts whenever no cached password is reused, so
  // only one thread prompts at a time.
  TCriticalSection& Lock() { return lock_; }

  // Everything below expects Lock() to be held.
  // The cached password of Key into Password when both time-outs allow its reuse.
  bool Reusable(const std::string& Key, int32_t PwdTimeout, int32_t LastOpTimeout, std::string& Password);
  // A password the toolkit accepted after it was typed.
  void Entered(const std::string& Key, const std::string& Password, int32_t PwdTimeout, int32_t LastOpTimeout);
  // A reused password served one more operation.
  void Used(const std::string& Key, int32_t LastOpTimeout);
  // The toolkit refused the cached password.
  void Forget(const std::string& Key);
  void Clear();

 private:
  struct Entry {
    SecureBytes Password;
    TKeyTimeouts Timeouts;
  };
  TCriticalSection lock_;
  std::map<std::string, Entry> entries_;
};

}  // namespace zk::excellence
