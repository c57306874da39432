// The private-key cache of one configuration: the decoded content of the secret key file, kept
// between operations for as long as both time-outs allow. Every method expects the caller to hold
// the binding's key lock; the key it hands out is used after the lock is released.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engines/openssl/ossl_objects.h"
#include "frame/keytimeouts.h"
#include "frame/secure.h"

namespace zk::ossl {

class TOSSLKeyCache {
 public:
  using KeyOperation = std::function<int32_t(RsaKey* Key)>;
  // The key of SecretKeyFile (the Base64 text of a DER RSA private key), counted as used now.
  // KeyTimeout counts from the file's reading, LastOpTimeout from the last use; 0 means "read
  // every time". The parsed key is kept with the file's content, so that a signature does not pay
  // for parsing and precomputation each time. 0; -28 (no file named), -29 (unreadable), -23 (not
  // a key), -9 (not an RSA key).
  int32_t TakeKey(const std::string& SecretKeyFile, int32_t KeyTimeout, int32_t LastOpTimeout, SharedRsa& Key);
  void Clear();

 private:
  int32_t ReadKeyFile(const std::string& SecretKeyFile);
  int32_t ParseKey();

  std::string KeyFileName_;
  SecureBytes KeyData_;
  SharedRsa Key_;  // parsed from KeyData_, dropped with it (operations may still hold it)
  TKeyTimeouts Timeouts_;
};

}  // namespace zk::ossl
