// The providers of the stand-in "advapi32.dll": the Microsoft RSA providers, three Crypto-Pro
// names over OpenSSL's GOST engine, and the Intel hardware random source. Key containers are
// files under "<home>/containers/<family>/", one private key each (PEM), so that keys put there by
// a test or the demo survive the process. Handles are counted objects checked against a registry,
// so a stale or foreign handle is refused rather than followed.
#include <openssl/engine.h>
#include <openssl/pem.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "advapi32_internal.h"

namespace capistandin {

namespace {

thread_local DWORD lastError = 0;

const TProviderInfo kProviders[] = {
    {"Microsoft Base Cryptographic Provider v1.0", 1, TFamily::Rsa},
    {"Microsoft Enhanced Cryptographic Provider v1.0", 1, TFamily::Rsa},
    {"Microsoft Strong Cryptographic Provider", 1, TFamily::Rsa},
    {"Crypto-Pro Cryptographic Service Provider", 2, TFamily::Gost},
    {"Crypto-Pro GOST R 34.10-94 Cryptographic Service Provider", 71, TFamily::Gost},
    {"Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider", 75, TFamily::Gost},
    {"Intel Hardware Cryptographic Service Provider", 22, TFamily::Intel},
};

struct TState {
  std::mutex lock;
  std::string home;
  bool homeRead = false;
  std::set<std::string> hidden;  // upper-cased names
  std::set<const TProv*> provs;
  std::set<const TKey*> keys;
};

TState& State() {
  static standin::Immortal<TState> state;
  return state.get();
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

bool Hidden(const TProviderInfo& p) { return State().hidden.count(Upper(p.name)) != 0; }

const TProviderInfo* FindProvider(const char* name, DWORD type, DWORD& error) {
  std::lock_guard<std::mutex> hold(State().lock);
  for (const auto& p : kProviders) {
    if (Hidden(p)) continue;
    if (name != nullptr ? Upper(name) == Upper(p.name) : p.type == type) {
      if (p.type != type) {
        error = kNteProvTypeNoMatch;
        return nullptr;
      }
      return &p;
    }
  }
  error = name != nullptr ? kNteKeysetNotDef : 0x80090017;  // NTE_PROV_TYPE_NOT_DEF
  return nullptr;
}

// Container names are case-insensitive; anything but letters, digits, '.', '_' and '-' is escaped.
std::string ContainerFile(TFamily family, const std::string& name) {
  std::string home = HomeDirectory();
  if (home.empty()) return "";
  std::string file = home + "containers/" + (family == TFamily::Gost ? "gost/" : "rsa/");
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      file += kHex[c >> 4];
      file += kHex[c & 15];
    }
  }
  return file + ".key";
}

void MakeDirectories(const std::string& file) {
  for (size_t pos = 1; (pos = file.find('/', pos)) != std::string::npos; ++pos)
    ::mkdir(file.substr(0, pos).c_str(), 0700);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

EVP_PKEY* ReadKeyFile(const std::string& path) {
  BIO* in = BIO_new_file(path.c_str(), "rb");
  if (in == nullptr) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey_ex(in, nullptr, nullptr, nullptr, ZkCapiLibContext(), nullptr);
  if (key == nullptr) {
    BIO_reset(in);
    key = d2i_PrivateKey_ex_bio(in, nullptr, ZkCapiLibContext(), nullptr);
  }
  BIO_free(in);
  return key;
}

}  // namespace

std::string HomeDirectory() {
  std::lock_guard<std::mutex> hold(State().lock);
  if (!State().homeRead && State().home.empty()) {
    State().homeRead = true;
    if (const char* env = std::getenv("ZK_CAPI_HOME"); env != nullptr && *env != 0) {
      State().home = env;
      if (State().home.back() != '/') State().home += '/';
    }
  }
  return State().home;
}

void SetHomeDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> hold(State().lock);
  State().home = dir;
  if (!dir.empty() && dir.back() != '/') State().home += '/';
  State().homeRead = true;
}

int HideProvider(const char* name, bool hidden) {
  if (name == nullptr) return -1;
  std::lock_guard<std::mutex> hold(State().lock);
  if (hidden) State().hidden.insert(Upper(name));
  else State().hidden.erase(Upper(name));
  return 0;
}

// Written beside the container and moved into place: a failure leaves the old key.
bool WriteContainer(const std::string& path, EVP_PKEY* key) {
  MakeDirectories(path);
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  BIO* out = BIO_new_file(temp.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = key == nullptr || PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  if (BIO_free(out) != 1 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

TProv* LockProv(HCRYPTPROV handle) {
  auto* prov = reinterpret_cast<TProv*>(handle);
  std::lock_guard<std::mutex> hold(State().lock);
  if (State().provs.count(prov) == 0) return nullptr;
  ++prov->refs;
  return prov;
}

void UnlockProv(TProv* prov) {
  {
    std::lock_guard<std::mutex> hold(State().lock);
    if (--prov->refs > 0) return;
    State().provs.erase(prov);
  }
  EVP_PKEY_free(prov->key);
  delete prov;
}

TKey* FindKey(HCRYPTKEY handle) {
  auto* key = reinterpret_cast<TKey*>(handle);
  std::lock_guard<std::mutex> hold(State().lock);
  return State().keys.count(key) != 0 ? key : nullptr;
}

HCRYPTKEY NewKey(TProv* prov, EVP_PKEY* pkey) {
  auto* key = new TKey{prov, pkey};
  EVP_PKEY_up_ref(pkey);
  std::lock_guard<std::mutex> hold(State().lock);
  ++prov->refs;
  State().keys.insert(key);
  return reinterpret_cast<HCRYPTKEY>(key);
}

bool DestroyKey(HCRYPTKEY handle) {
  auto* key = reinterpret_cast<TKey*>(handle);
  {
    std::lock_guard<std::mutex> hold(State().lock);
    if (State().keys.erase(key) == 0) return false;
  }
  EVP_PKEY_free(key->pkey);
  UnlockProv(key->prov);
  delete key;
  return true;
}

// Puts a key into the provider's container (and its file when the container is persistent).
bool SetProvKey(TProv* prov, EVP_PKEY* pkey) {
  if (!prov->path.empty() && !WriteContainer(prov->path, pkey)) return false;
  std::lock_guard<std::mutex> hold(prov->keyLock);
  EVP_PKEY_up_ref(pkey);
  EVP_PKEY_free(prov->key);
  prov->key = pkey;
  return true;
}

EVP_PKEY* ProvKey(TProv* prov) {
  std::lock_guard<std::mutex> hold(prov->keyLock);
  if (prov->key != nullptr) EVP_PKEY_up_ref(prov->key);
  return prov->key;
}

void EnsureGostEngine() {
  static std::once_flag once;
  std::call_once(once, [] {
    ENGINE_load_builtin_engines();
    ENGINE* gost = ENGINE_by_id("gost");
    if (gost == nullptr) return;
    if (ENGINE_init(gost)) ENGINE_set_default(gost, ENGINE_METHOD_ALL);
    ENGINE_free(gost);  // the structural reference; the functional one stays for the process
  });
}

}  // namespace capistandin

using namespace capistandin;

extern "C" {

STANDIN_EXPORT void SetLastError(DWORD code) {
  lastError = code;
  errno = static_cast<int>(code);  // the binding reads the platform's last error
}

STANDIN_EXPORT DWORD GetLastError() { return lastError; }

STANDIN_EXPORT OSSL_LIB_CTX* ZkCapiLibContext() {
  static OSSL_LIB_CTX* context = [] {
    OSSL_LIB_CTX* c = OSSL_LIB_CTX_new();
    // RC2, RC4 and single DES live in the legacy provider.
    OSSL_PROVIDER_load(c, "default");
    OSSL_PROVIDER_load(c, "legacy");
    EnsureGostEngine();
    return c;
  }();
  return context;
}

STANDIN_EXPORT const char* ZkCapiHome() {
  thread_local std::string home;
  home = HomeDirectory();
  return home.c_str();
}

STANDIN_EXPORT void ZkCapiSetHome(const char* dir) { SetHomeDirectory(dir != nullptr ? dir : ""); }

STANDIN_EXPORT BOOL CryptAcquireContextA(HCRYPTPROV* Prov, const char* Container, const char* Name, DWORD Type,
                                         DWORD Flags) {
  if (Scripted("CryptAcquireContextA")) return 0;
  if (Prov == nullptr) return Fail(kErrorInvalidParameter);
  ZkCapiLibContext();
  DWORD error = 0;
  const TProviderInfo* info = FindProvider(Name, Type, error);
  if (info == nullptr) return Fail(error);
  const DWORD verify = Flags & kVerifyContext;
  const DWORD action = Flags & ~(kVerifyContext | 0x20u | 0x40u);  // machine keyset, silent: ignored
  if (action != 0 && action != kNewKeySet && action != 0x10) return Fail(kNteBadFlags);
  const std::string name = Container != nullptr && *Container != 0 ? Container : "";
  if (info->family == TFamily::Intel) {
    if (!name.empty() || action != 0) return Fail(kNteBadKeyset);
  } else if (verify != 0) {
    // As Microsoft's providers do: a verify context has no container name.
    if (!name.empty() && info->family == TFamily::Rsa) return Fail(kNteBadFlags);
  }
  const std::string path =
      info->family == TFamily::Intel || verify != 0 ? "" : ContainerFile(info->family, name.empty() ? "default" : name);
  if (info->family != TFamily::Intel && verify == 0 && path.empty()) return Fail(kNteBadKeyset);  // no state dir
  if (action == 0x10) {
    *Prov = 0;
    return verify == 0 && std::remove(path.c_str()) == 0 ? 1 : Fail(kNteBadKeyset);
  }
  EVP_PKEY* key = nullptr;
  if (!path.empty()) {
    const bool exists = FileExists(path);
    if (action == kNewKeySet && exists) return Fail(kNteExists);
    if (action == 0 && !exists) return Fail(kNteBadKeyset);
    if (action == kNewKeySet && !WriteContainer(path, nullptr)) return Fail(kNteFail);
    key = ReadKeyFile(path);  // null: the container holds no key yet
  }
  auto* prov = new TProv;
  prov->info = info;
  prov->path = path;
  prov->key = key;
  prov->refs = 1;
  {
    std::lock_guard<std::mutex> hold(State().lock);
    State().provs.insert(prov);
  }
  *Prov = reinterpret_cast<HCRYPTPROV>(prov);
  return 1;
}

STANDIN_EXPORT BOOL CryptContextAddRef(HCRYPTPROV Prov, DWORD* Reserved, DWORD Flags) {
  if (Scripted("CryptContextAddRef")) return 0;
  if (Reserved != nullptr || Flags != 0) return Fail(kErrorInvalidParameter);
  return LockProv(Prov) != nullptr ? 1 : Fail(kNteBadUid);
}

STANDIN_EXPORT BOOL CryptReleaseContext(HCRYPTPROV Prov, DWORD Flags) {
  if (Scripted("CryptReleaseContext")) return 0;
  TProv* prov = LockProv(Prov);
  if (prov == nullptr) return Fail(kNteBadUid);
  UnlockProv(prov);  // the reference just taken
  if (Flags != 0) return Fail(kNteBadFlags);
  UnlockProv(prov);  // the caller's
  return 1;
}

STANDIN_EXPORT BOOL CryptEnumProvidersA(DWORD Index, DWORD* Reserved, DWORD Flags, DWORD* Type, char* Name,
                                        DWORD* NameLen) {
  if (Scripted("CryptEnumProvidersA")) return 0;
  if (Reserved != nullptr || Flags != 0 || NameLen == nullptr) return Fail(kErrorInvalidParameter);
  DWORD visible = 0;
  std::lock_guard<std::mutex> hold(State().lock);
  for (const auto& p : kProviders) {
    if (Hidden(p) || visible++ != Index) continue;
    const DWORD need = static_cast<DWORD>(std::strlen(p.name) + 1);
    if (Type != nullptr) *Type = p.type;
    if (Name == nullptr) {
      *NameLen = need;
      return 1;
    }
    if (*NameLen < need) {
      *NameLen = need;
      SetLastError(kErrorMoreData);
      return 0;
    }
    std::memcpy(Name, p.name, need);
    *NameLen = need;
    return 1;
  }
  return Fail(kErrorNoMoreItems);
}

STANDIN_EXPORT BOOL CryptGenRandom(HCRYPTPROV Prov, DWORD Len, BYTE* Buffer) {
  if (Scripted("CryptGenRandom")) return 0;
  TProv* prov = LockProv(Prov);
  if (prov == nullptr) return Fail(kNteBadUid);
  const bool ok = (Buffer != nullptr || Len == 0) && (Len == 0 || RAND_bytes(Buffer, static_cast<int>(Len)) == 1);
  UnlockProv(prov);
  return ok ? 1 : Fail(kErrorInvalidParameter);
}

STANDIN_EXPORT EVP_PKEY* ZkCapiProviderKey(HCRYPTPROV Prov, DWORD KeySpec) {
  TProv* prov = LockProv(Prov);
  if (prov == nullptr) {
    SetLastError(kNteBadUid);
    return nullptr;
  }
  EVP_PKEY* key = KeySpec == 1 || KeySpec == 2 ? ProvKey(prov) : nullptr;
  UnlockProv(prov);
  if (key == nullptr) SetLastError(kNteNoKey);
  return key;
}

STANDIN_EXPORT BOOL ZkCapiAcquire(HCRYPTPROV* Prov, const char* Container, const char* Provider, DWORD Type) {
  return CryptAcquireContextA(Prov, Container, Provider, Type, 0);
}

STANDIN_EXPORT int StandIn_Control(const char* command) {
  if (command != nullptr && std::strncmp(command, "home ", 5) == 0) {
    ZkCapiSetHome(command + 5);
    return 0;
  }
  return standin::Control(command);
}

// Provisioning for tests and the demo: hides (1) or shows (0) a provider by name.
STANDIN_EXPORT int CapiStandIn_HideProvider(const char* Provider, int Hidden) {
  return HideProvider(Provider, Hidden != 0);
}

// Provisioning: the private key of a PEM or DER file (RSA, or GOST through the engine) becomes
// the key of the container, which is made when missing. 0, or the failure's HRESULT.
STANDIN_EXPORT DWORD CapiStandIn_PutKey(const char* Provider, const char* Container, const char* KeyFile) {
  ZkCapiLibContext();
  DWORD error = 0;
  const TProviderInfo* info = Provider != nullptr ? FindProvider(Provider, 0, error) : nullptr;
  if (info == nullptr && Provider != nullptr) {
    for (const auto& p : kProviders)
      if (Upper(p.name) == Upper(Provider)) info = &p;
  }
  if (info == nullptr || info->family == TFamily::Intel || Container == nullptr || KeyFile == nullptr)
    return kNteKeysetNotDef;
  const std::string path = ContainerFile(info->family, Container);
  if (path.empty()) return kNteBadKeyset;
  EVP_PKEY* key = ReadKeyFile(KeyFile);
  if (key == nullptr) return kNteBadKey;
  const bool written = WriteContainer(path, key);
  EVP_PKEY_free(key);
  return written ? 0 : kNteFail;
}

}  // extern "C"
