#include "mpro_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace mprotest {

namespace {

std::string ModuleDir() {
  const std::string self = zk::platform::HostExecutableFileName();
  return self.substr(0, self.find_last_of("/\\") + 1);
}

template <typename Fn>
void Bind(zk::platform::ModuleHandle module, const char* name, Fn& target) {
  target = reinterpret_cast<Fn>(zk::platform::FindSymbol(module, name));
  if (target == nullptr) ADD_FAILURE() << name << " missing from the stand-in";
}

}  // namespace

const StandIn& StandIn::Get(const std::string& file) {
  static std::map<std::string, StandIn> loaded;
  auto it = loaded.find(file);
  if (it != loaded.end()) return it->second;
  StandIn s;
  zk::platform::ModuleHandle module = zk::platform::LoadModule(ModuleDir() + file);
  if (module == nullptr) {
    ADD_FAILURE() << file << " not found beside the test program";
    return loaded[file];
  }
  Bind(module, "MPro_StandIn_MakeCa", s.MakeCa);
  Bind(module, "MPro_StandIn_MakeUser", s.MakeUser);
  Bind(module, "MPro_StandIn_MakeCrl", s.MakeCrl);
  Bind(module, "MPro_StandIn_ExportKey", s.ExportKey);
  Bind(module, "StandIn_Control", s.Control);
  return loaded[file] = s;
}

Sandbox::Sandbox() {
  fs::create_directories(CertDir());
  EXPECT_EQ(StandIn::Get().MakeCa("/C=RU/O=Bank/CN=Root", CaKey().c_str(), CaCert().c_str()), 0);
}

void Sandbox::AddUser(const std::string& name, const std::string& subject, int64_t validSeconds, std::string certFile) {
  if (certFile.empty()) certFile = CertDir() + name + ".pem";
  const std::string line = subject.empty() ? "/C=RU/O=Bank/CN=" + name : subject;
  ASSERT_EQ(StandIn::Get().MakeUser(CaKey().c_str(), CaCert().c_str(), line.c_str(), validSeconds, Pse(name).c_str(),
                                    certFile.c_str()),
            0);
}

std::unique_ptr<zk::TCryptoEngine> EngineFor(const std::string& type, const Sandbox& box, const std::string& user,
                                             const std::string& timeout) {
  std::unique_ptr<zk::TCryptoEngine> e;
  if (type == "Message-PRO 1.1") e = std::make_unique<zk::TMPro1CryptoEngine>();
  if (type == "M-Pro v1.34 (GOST PSE)") e = std::make_unique<zk::TMProWinCryptoEngine>();
  if (type == "M-Pro v2.x") e = std::make_unique<zk::TMPro2xCryptoEngine>();
  EXPECT_EQ(e->SetCryptoParamValue(kOwnCert, (box.CertDir() + user + ".pem").c_str()), 0);
  EXPECT_EQ(e->SetCryptoParamValue(kCertDir, box.CertDir().c_str()), 0);
  EXPECT_EQ(e->SetCryptoParamValue(kWorkDir, box.Dir().c_str()), 0);
  EXPECT_EQ(e->SetCryptoParamValue(kPse, box.Pse(user).c_str()), 0);
  EXPECT_EQ(e->SetCryptoParamValue(kTrustedCa, box.CaCert().c_str()), 0);
  EXPECT_EQ(e->SetCryptoParamValue(kTimeout, timeout.c_str()), 0);
  return e;
}

Signed Sign(zk::TCryptoEngine& e, const Bytes& data, const char* signUid) {
  Signed s;
  s.signature.resize(size_t(e.GetMaxSignatureLength()));
  int32_t len = 0;
  s.code = e.SignData(data.data(), int32_t(data.size()), s.signature.data(), &len, signUid);
  s.signature.resize(s.code == 0 ? size_t(len) : 0);
  return s;
}

int32_t Verify(zk::TCryptoEngine& e, const Bytes& data, const Bytes& signature, std::string& signer) {
  char uid[64] = {};
  const int32_t r = e.VerifyData(data.data(), int32_t(data.size()), signature.data(), int32_t(signature.size()), uid);
  signer = uid;
  return r;
}

int32_t Encode(zk::TCryptoEngine& e, Bytes& data, const char* recipients) {
  int32_t len = int32_t(data.size());
  data.resize(data.size() + size_t(e.GetMaxEncodeAddition()));
  const int32_t r = e.EncodeData(data.data(), &len, recipients);
  data.resize(size_t(len));
  return r;
}

int32_t Decode(zk::TCryptoEngine& e, Bytes& data) {
  int32_t len = int32_t(data.size());
  char sender[64];
  std::memset(sender, 'x', sizeof sender);
  const int32_t r = e.DecodeData(data.data(), &len, sender);
  EXPECT_EQ(sender[0], '\0') << "the sender is always written";
  if (r == 0) data.resize(size_t(len));
  return r;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace mprotest
