// Inside the stand-in "advapi32.dll": provider contexts and key handles.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "capi_standin.h"

namespace capistandin {

enum class TFamily { Rsa, Gost, Intel };

struct TProviderInfo {
  const char* name;
  DWORD type;
  TFamily family;
};

// A provider context: counted (CryptContextAddRef), holding at most one key pair, which serves
// both key specs. `path` is the container's file, empty for a verify context.
struct TProv {
  const TProviderInfo* info = nullptr;
  std::string path;
  std::mutex keyLock;
  EVP_PKEY* key = nullptr;
  long refs = 0;  // under the registry's lock
};

struct TKey {
  TProv* prov;
  EVP_PKEY* pkey;
};

std::string HomeDirectory();
void SetHomeDirectory(const std::string& dir);
int HideProvider(const char* name, bool hidden);

// A counted reference to a live provider context, or null.
TProv* LockProv(HCRYPTPROV handle);
void UnlockProv(TProv* prov);
EVP_PKEY* ProvKey(TProv* prov);
bool SetProvKey(TProv* prov, EVP_PKEY* pkey);
TKey* FindKey(HCRYPTKEY handle);
HCRYPTKEY NewKey(TProv* prov, EVP_PKEY* pkey);
bool DestroyKey(HCRYPTKEY handle);
bool WriteContainer(const std::string& path, EVP_PKEY* key);

}  // namespace capistandin
