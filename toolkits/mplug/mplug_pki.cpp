// Keys of the stand-in: RSA through libgcrypt (PKCS#1 v1.5 over SHA-256 for signatures, PKCS#1
// v1.5 key transport), the private key in a sealed text file; and the file helpers.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <map>
#include <mutex>
#include <utility>
#include <ctime>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "mplug_internal.h"
#include "standin.h"
#include "standin_files.h"
#include "standin_memo.h"
#include "standin_rsa.h"

namespace mplug {

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t c : b) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& text, Bytes& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned v = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = text[i + k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + unsigned(d);
    }
    out.push_back(uint8_t(v));
  }
  return true;
}

Bytes Sha256(const uint8_t* data, size_t len) {
  Bytes d(32);
  gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), data, len);
  return d;
}

std::string FilePath(std::string path) {
#if !defined(_WIN32)
  // Hosts hand over Windows paths; both separators name the same directories here.
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

bool ReadWholeFile(const std::string& path, Bytes& out, size_t limit) {
  std::FILE* f = std::fopen(FilePath(path).c_str(), "rb");
  if (f == nullptr) return false;
  // Read straight into our buffer: the stream's own buffer would be allocated for every file.
  std::setvbuf(f, nullptr, _IONBF, 0);
  out.clear();
  uint8_t chunk[4096];
  size_t n = 0;
  bool ok = true;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    out.insert(out.end(), chunk, chunk + n);
    if (out.size() > limit) { ok = false; break; }
  }
  std::fclose(f);
  return ok;
}

namespace {

#ifndef _WIN32
bool Same(const struct timespec& a, const struct timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
#endif

std::vector<std::string> ListCrlFiles(const std::string& dir) {
  // The engine names them "crl<number>.pem"; only those present are read.
  std::vector<std::string> out;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(FilePath(dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 7 && name.compare(0, 3, "crl") == 0 && name.compare(name.size() - 4, 4, ".pem") == 0)
      out.push_back(it->path().string());
  }
  return out;
}

}  // namespace

#ifndef _WIN32
bool FileState::operator==(const FileState& o) const {
  return device == o.device && inode == o.inode && size == o.size && Same(mtime, o.mtime) && Same(ctime, o.ctime);
}

bool StateOf(const std::string& path, FileState& state) {
  constexpr time_t kSettled = 3;  // seconds
  struct stat st;
  if (::stat(FilePath(path).c_str(), &st) != 0) return false;
  state = FileState{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), st.st_mtim, st.st_ctim, false};
  const time_t now = ::time(nullptr);
  state.settled = now - st.st_mtim.tv_sec >= kSettled;
  return true;
}
#endif

std::vector<std::string> CrlFiles(const std::string& dir) {
#ifdef _WIN32
  return ListCrlFiles(dir);
#else
  // Every file system here marks a directory changed when a name is added or removed.
  static standin::Immortal<KeptByState<std::vector<std::string>>> kept(64);
  FileState state;
  std::vector<std::string> files;
  if (!StateOf(dir, state)) return files;
  if (kept.get().Find(dir, state, files)) return files;
  files = ListCrlFiles(dir);
  kept.get().Keep(dir, state, files);
  return files;
#endif
}

bool WriteWhole(const std::string& path, const std::string& text) {
  return standin::WriteWholeFile(FilePath(path).c_str(), text.data(), text.size()) == standin::WriteResult::kOk;
}

std::string Canonical(gcry_sexp_t s) {
  const size_t len = gcry_sexp_sprint(s, GCRYSEXP_FMT_CANON, nullptr, 0);
  std::string out(len, '\0');
  gcry_sexp_sprint(s, GCRYSEXP_FMT_CANON, out.data(), len);
  while (!out.empty() && out.back() == '\0') out.pop_back();
  return out;
}

bool ParseCanonical(const std::string& text, Sexp& out) {
  return gcry_sexp_new(out.out(), text.data(), text.size(), 1) == 0;
}

namespace {

// "MAGIC 1" then Name=Value lines; Body is everything before the sealing line.
bool SplitSealed(const std::string& text, const char* magic, const char* seal,
                 std::map<std::string, std::string>& fields, std::string& body) {
  const std::string head = std::string(magic) + " 1\n";
  if (text.compare(0, head.size(), head) != 0) return false;
  size_t at = head.size();
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const size_t eq = line.find('=');
    if (eq == std::string::npos || fields.count(line.substr(0, eq)) != 0) return false;
    if (line.compare(0, eq, seal) == 0) body = text.substr(0, at);
    fields[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 1;
  }
  return !body.empty();
}

}  // namespace

namespace {

// Keys read before, by their file's bytes: a context made for one call (a time-out of 0) reads
// its key file again, and unsealing it costs more than the call's other work.
struct ReadKeys {
  std::mutex lock;
  std::map<std::string, std::string> canonicalByFile;
};

ReadKeys& Keys() {
  static standin::Immortal<ReadKeys> keys;
  return keys.get();
}

bool Unseal(const std::string& text, std::string& canonical) {
  std::map<std::string, std::string> f;
  std::string body;
  Bytes keyBytes, check;
  if (!SplitSealed(text, "ZKMPPSE", "Check", f, body) || !Unhex(f["Key"], keyBytes) || !Unhex(f["Check"], check) ||
      Sha256(keyBytes.data(), keyBytes.size()) != check)
    return false;
  canonical.assign(keyBytes.begin(), keyBytes.end());
  return true;
}

}  // namespace

namespace {

// The key of a PSE file's text: kOk or kNoPrivateKey.
int32_t KeyFromText(const std::string& text, Sexp& key) {
  constexpr size_t kKept = 64;
  ReadKeys& keys = Keys();
  std::string canonical;
  {
    std::lock_guard<std::mutex> hold(keys.lock);
    auto it = keys.canonicalByFile.find(text);
    if (it != keys.canonicalByFile.end()) canonical = it->second;
  }
  if (canonical.empty()) {
    if (!Unseal(text, canonical)) return kNoPrivateKey;
    std::lock_guard<std::mutex> hold(keys.lock);
    if (keys.canonicalByFile.size() >= kKept) keys.canonicalByFile.clear();
    keys.canonicalByFile.emplace(text, canonical);
  }
  return ParseCanonical(canonical, key) ? kOk : kNoPrivateKey;
}

// PSE keys with the answer whether they pair with a certificate's public key, by the file's
// exact bytes and the public key's: a context made for one call (a time-out of 0) reads its PSE
// again, and parsing the key and comparing key grips cost more than most such calls' own work.
struct PairedKeys {
  std::mutex lock;
  std::map<std::string, SharedKey> byText;  // null: the key does not pair
};

PairedKeys& Paired() {
  static standin::Immortal<PairedKeys> paired;
  return paired.get();
}

}  // namespace

int32_t ReadPrivateKey(const std::string& path, Sexp& key) {
  Bytes bytes;
  if (!ReadWholeFile(path, bytes, 64 * 1024)) return kNoPrivateKey;
  return KeyFromText(std::string(bytes.begin(), bytes.end()), key);
}

int32_t ReadPairedKey(const std::string& path, const std::string& publicText, SharedKey& key) {
  constexpr size_t kKept = 64;
  key.reset();
#ifndef _WIN32
  // A file in the state it had (settled, see KeptByState) is not read again, as with certificates.
  static standin::Immortal<KeptByState<SharedKey>> kept(kKept);
  FileState state;
  if (!StateOf(path, state)) return kNoPrivateKey;
  const std::string keptAs = path + '\0' + publicText;
  if (kept.get().Find(keptAs, state, key)) return key ? kOk : kNoPrivateKey;
#endif
  Bytes bytes;
  if (!ReadWholeFile(path, bytes, 64 * 1024)) return kNoPrivateKey;
  const std::string text(bytes.begin(), bytes.end());
  const standin::MemoKey id = standin::MemoKey("paired key").Add(text).Add(publicText);
  PairedKeys& paired = Paired();
  SharedKey found;
  bool known = false;
  {
    std::lock_guard<std::mutex> hold(paired.lock);
    auto it = paired.byText.find(id.Text());
    if (it != paired.byText.end()) found = it->second, known = true;
  }
  if (!known) {
    auto parsed = std::make_shared<Sexp>();
    if (KeyFromText(text, *parsed) != kOk) return kNoPrivateKey;  // an unreadable file is not kept
    if (SameKey(parsed->get(), publicText)) found = std::move(parsed);
    std::lock_guard<std::mutex> hold(paired.lock);
    if (paired.byText.size() >= kKept) {
      for (auto& entry : paired.byText) standin::WipeBytes(const_cast<char*>(entry.first.data()), entry.first.size());
      paired.byText.clear();
    }
    paired.byText.emplace(id.Text(), found);
  }
#ifndef _WIN32
  kept.get().Keep(keptAs, state, found);
#endif
  key = found;
  return key ? kOk : kNoPrivateKey;
}

bool WritePrivateKey(const std::string& path, gcry_sexp_t key) {
  const std::string canon = Canonical(key);
  const Bytes bytes(canon.begin(), canon.end());
  return WriteWhole(path, "ZKMPPSE 1\nKey=" + Hex(bytes) + "\nCheck=" + Hex(Sha256(bytes.data(), bytes.size())) + "\n");
}

bool GenerateKey(Sexp& priv, std::string& publicText) {
  InitLibrary();
  Sexp params, pair;
  if (gcry_sexp_build(params.out(), nullptr, "(genkey(rsa(nbits %d)))", static_cast<int>(standin::RsaKeyBits())) != 0) return false;
  if (gcry_pk_genkey(pair.out(), params.get()) != 0) return false;
  Sexp pub(gcry_sexp_find_token(pair.get(), "public-key", 0));
  priv = Sexp(gcry_sexp_find_token(pair.get(), "private-key", 0));
  if (!pub || !priv) return false;
  publicText = Canonical(pub.get());
  return true;
}

bool SameKey(gcry_sexp_t priv, const std::string& publicText) {
  Sexp pub;
  if (!ParseCanonical(publicText, pub)) return false;
  uint8_t a[20], b[20];
  return gcry_pk_get_keygrip(priv, a) != nullptr && gcry_pk_get_keygrip(pub.get(), b) != nullptr &&
         std::memcmp(a, b, sizeof a) == 0;
}

bool RsaSign(gcry_sexp_t priv, const uint8_t* data, size_t len, Bytes& sig) {
  return RsaSignDigest(priv, Sha256(data, len), sig);
}

bool RsaSignDigest(gcry_sexp_t priv, const Bytes& digest, Bytes& sig) {
  InitLibrary();
  Sexp in, out;
  if (gcry_sexp_build(in.out(), nullptr, "(data(flags pkcs1)(hash sha256 %b))", int(digest.size()), digest.data()) != 0)
    return false;
  if (gcry_pk_sign(out.out(), in.get(), priv) != 0) return false;
  Sexp s(gcry_sexp_find_token(out.get(), "s", 0));
  size_t n = 0;
  const char* p = s ? gcry_sexp_nth_data(s.get(), 1, &n) : nullptr;
  if (p == nullptr) return false;
  // Left-padded to the modulus length, as PKCS#1 writes it.
  const size_t modulus = (gcry_pk_get_nbits(priv) + 7) / 8;
  sig.assign(modulus > n ? modulus - n : 0, 0);
  sig.insert(sig.end(), p, p + n);
  return true;
}

bool RsaVerifyDigest(const std::string& publicText, const Bytes& digest, const Bytes& sig) {
  InitLibrary();
  Sexp pub;
  return ParseCanonical(publicText, pub) && RsaVerifyDigest(pub.get(), digest, sig);
}

bool VerifyWith(const Cert& cert, const Bytes& digest, const Bytes& sig) {
  return cert.PublicKey ? RsaVerifyDigest(cert.PublicKey->get(), digest, sig)
                        : RsaVerifyDigest(cert.KeyText, digest, sig);
}

namespace {

bool RsaVerifyNow(gcry_sexp_t pub, const Bytes& digest, const Bytes& sig) {
  InitLibrary();
  Sexp in, s;
  if (digest.size() != 32) return false;
  if (gcry_sexp_build(in.out(), nullptr, "(data(flags pkcs1)(hash sha256 %b))", int(digest.size()), digest.data()) != 0)
    return false;
  if (gcry_sexp_build(s.out(), nullptr, "(sig-val(rsa(s %b)))", int(sig.size()), sig.data()) != 0) return false;
  return gcry_pk_verify(s.get(), in.get(), pub) == 0;
}

}  // namespace

// With the stand-ins' memo on (fuzzing), a signature this key already checked over this digest
// is not checked again; the library's code above this call runs in full either way.
bool RsaVerifyDigest(gcry_sexp_t pub, const Bytes& digest, const Bytes& sig) {
  standin::Memo* memo = standin::Memo::Process();
  if (memo == nullptr) return RsaVerifyNow(pub, digest, sig);
  const standin::MemoKey key = standin::MemoKey("RSA verify").Add(pub).Add(digest).Add(sig);
  Bytes none;
  const auto compute = [&](Bytes&) { return RsaVerifyNow(pub, digest, sig) ? 1 : 0; };
  return standin::Remembered(*memo, key, none, compute) == 1;
}

namespace {

bool RsaDecryptNow(gcry_sexp_t priv, const Bytes& in, Bytes& plain) {
  InitLibrary();
  Sexp enc, out;
  if (gcry_sexp_build(enc.out(), nullptr, "(enc-val(flags pkcs1)(rsa(a %b)))", int(in.size()), in.data()) != 0)
    return false;
  if (gcry_pk_decrypt(out.out(), enc.get(), priv) != 0) return false;
  Sexp value(gcry_sexp_find_token(out.get(), "value", 0));
  size_t n = 0;
  const char* p = value ? gcry_sexp_nth_data(value.get(), 1, &n) : nullptr;
  if (p == nullptr) return false;
  plain.assign(p, p + n);
  return true;
}

}  // namespace

// With the stand-ins' memo on (fuzzing), a wrapped key this key already unwrapped is not
// decrypted again; the library's code above this call runs in full either way.
bool RsaDecrypt(gcry_sexp_t priv, const Bytes& in, Bytes& plain) {
  standin::Memo* memo = standin::Memo::Process();
  if (memo == nullptr) return RsaDecryptNow(priv, in, plain);
  const standin::MemoKey key = standin::MemoKey("RSA decrypt").Add(priv).Add(in);
  Bytes got;  // the caller's buffer changes only on success, as without the memo
  const auto compute = [&](Bytes& out) { return RsaDecryptNow(priv, in, out) ? 1 : 0; };
  if (standin::Remembered(*memo, key, got, compute) != 1) return false;
  plain = std::move(got);
  return true;
}

}  // namespace mplug
