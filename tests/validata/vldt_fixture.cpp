#include "validata/vldt_fixture.h"

#include <fstream>
#include <iterator>

#include "support/standin.h"

namespace vtest {

namespace {

// An export of the stand-in the engine itself loads; a missing one fails the test.
template <typename Fn>
void Bind(const zk::suite::StandInControl& module, const char* name, Fn& target) {
  target = reinterpret_cast<Fn>(module.Symbol(name));
  if (target == nullptr) ADD_FAILURE() << "the stand-in lacks " << name;
}

}  // namespace

const StandIn& StandIn::Get() {
  static const StandIn instance = [] {
    StandIn s;
    const zk::suite::StandInControl module("cpki1.dll");
    Bind(module, "VCERT_StandIn_MakeCa", s.MakeCa);
    Bind(module, "VCERT_StandIn_MakePse", s.MakePse);
    Bind(module, "VCERT_StandIn_MakeCrl", s.MakeCrl);
    Bind(module, "VCERT_StandIn_ExportKey", s.ExportKey);
    Bind(module, "VCERT_StandIn_FillStore", s.FillStore);
    Bind(module, "VCERT_StandIn_AddToStore", s.AddToStore);
    Bind(module, "StandIn_Control", s.Control);
    return s;
  }();
  return instance;
}

Pki& Pki::Get() {
  static Pki pki;
  return pki;
}

Pki::Pki() {
  const StandIn& s = StandIn::Get();
  EXPECT_EQ(s.MakeCa(CaDir().c_str(), "C=RU,O=Bank,CN=Root"), 0);
  EXPECT_EQ(s.MakeCa(Other().c_str(), "C=RU,O=Elsewhere,CN=Root"), 0);
  struct User {
    const char* name;
    const char* ekus;
  } users[] = {{"alice", "1.3.6.1.5.5.7.3.4"}, {"bob", "1.3.6.1.5.5.7.3.4"}, {"carol", "1.3.6.1.5.5.7.3.4"},
               {"dave", ""}, {"erin", "1.3.6.1.5.5.7.3.2"}};
  int serial = 1;
  for (const User& u : users) {
    const std::string subject = std::string("C=RU,O=Bank,CN=") + u.name;
    const std::string hex = "0A0" + std::to_string(serial++);
    EXPECT_EQ(s.MakePse(CaDir().c_str(), subject.c_str(), hex.c_str(), 0xA0, u.ekus, -86400, 365 * 86400,
                        Pse(u.name).c_str(), Cert(u.name).c_str(), 0),
              0)
        << u.name;
  }
}

std::unique_ptr<zk::TValidataEngine> EngineFor(const std::string& user, const std::string& storeDir) {
  auto engine = std::make_unique<zk::TValidataEngine>();
  Configure(*engine, kPse, Pki::Get().Pse(user));
  Configure(*engine, kStore, storeDir + "/" + user + ".store");
  return engine;
}

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value) {
  ASSERT_EQ(engine.SetCryptoParamValue(index, value.c_str()), 0);
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string Text(zk::TCryptoEngine& engine, int32_t code) {
  std::vector<char> text(300, 'x');
  engine.GetCryptoErrorString(code, text.data());
  return text.data();
}

}  // namespace vtest
