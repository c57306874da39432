// The OpenSSL engine between three users of one CA. User A signs with SHA and encrypts with RC4,
// user B signs with MD5 and encrypts with RC5 in CBC mode (1024- and 2048-bit keys); user C's
// certificate is revoked by a CRL that A includes half-way, so that the same signature of C
// verifies before and fails after. Every path parameter uses the %ZEXRoot% macro.

#include "demo.h"
#include "demo_party.h"

#if defined(ZKMINT_WITH_OSSLKIT)
#include <filesystem>

#include "osslkit.h"
#endif

namespace zkmint {

#if defined(ZKMINT_WITH_OSSLKIT)
namespace {

namespace fs = std::filesystem;
namespace kit = zk::osslkit;

const std::string kEngineType = "OpenSSL";
const std::string kMacroBase = "%ZEXRoot%\\OPENSSL\\";

struct UserSpec {
  std::string letter;  // A, B, C
  int keyBits;
  Bytes serial;
  std::string hash, cipher;
};

const UserSpec kUserA{"A", 1024, {0x10, 0x0A}, "SHA", "RC4"};
const UserSpec kUserB{"B", 2048, {0x10, 0x0B}, "MD5", "RC5_CBC"};
const UserSpec kUserC{"C", 1024, {0x10, 0x0C}, "SHA", "RC2_CBC"};

std::string UserDir(const UserSpec& user) { return "USER" + user.letter; }

// <root>/OPENSSL: CA/ca.cer, CRL/ (empty), INBOX/ca.crl (revokes C), USERx/self.key, self.cer,
// ABONENTS/ (empty: the demo fills it with IncludePublicKey).
void Provision(const std::string& root) {
  fs::path base = fs::path(root) / "OPENSSL";
  for (const char* dir : {"CA", "CRL", "INBOX"}) fs::create_directories(base / dir);
  kit::PkeyPtr caKey = kit::GenerateRsaKey(1024);
  kit::X509Ptr ca = kit::MakeCaCert(caKey.get(), "zkmint demo CA");
  kit::WriteCert((base / "CA" / "ca.cer").string(), ca.get());
  for (const UserSpec* user : {&kUserA, &kUserB, &kUserC}) {
    fs::path dir = base / UserDir(*user);
    fs::create_directories(dir / "ABONENTS");
    kit::PkeyPtr key = kit::GenerateRsaKey(user->keyBits);
    kit::CertSpec spec;
    spec.serial = user->serial;
    spec.common_name = "zkmint demo user " + user->letter;
    kit::X509Ptr cert = kit::MakeCert(spec, key.get(), ca.get(), caKey.get());
    kit::WriteKeyFile((dir / "self.key").string(), key.get());
    kit::WriteCert((dir / "self.cer").string(), cert.get());
  }
  kit::CrlSpec crl;
  crl.revoked = {kUserC.serial};
  kit::CrlPtr list = kit::MakeCrl(crl, ca.get(), caKey.get());
  kit::WriteCrl((base / "INBOX" / "ca.crl").string(), list.get(), kit::CertFormat::kPemLf);
}

struct Party : DemoParty {
  Party(const DemoContext& context, const UserSpec& spec) : DemoParty(context.table, kEngineType, spec.letter), user(spec) {}
  const UserSpec& user;
};

std::vector<NamedValue> PartyParams(const UserSpec& user) {
  std::string dir = kMacroBase + UserDir(user) + "\\";
  return {{"User Secret key", dir + "self.key"}, {"User Certificate", dir + "self.cer"},
          {"Abonents dir", dir + "ABONENTS"},    {"CA dir", kMacroBase + "CA"},
          {"CRL dir", kMacroBase + "CRL"},       {"RND file", kMacroBase + "@rand"},
          {"Hash Method", user.hash},            {"Encrypt Method", user.cipher}};
}

bool OpenParty(const DemoContext& context, Party& party) {
  const std::string summary = "keys under " + kMacroBase + UserDir(party.user) + ", " + party.user.hash + ", " +
                              party.user.cipher;
  return OpenDemoParty(context, kEngineType, party, PartyParams(party.user), summary);
}

void IncludeCertificateOf(Party& receiver, const Party& owner) {
  std::string file = kMacroBase + UserDir(owner.user) + "\\self.cer";
  receiver.steps.Succeeds(*receiver.engine, "IncludePublicKey (user " + owner.user.letter + ")",
                          receiver.engine->IncludePublicKey(file), file);
}

void RunExchange(Party& a, Party& b, Party& c) {
  IncludeCertificateOf(a, b);
  IncludeCertificateOf(b, a);
  IncludeCertificateOf(a, c);
  a.steps.Fails(*a.engine, "IncludePublicKey (own certificate)",
                a.engine->IncludePublicKey(kMacroBase + "USERA\\self.cer"), "the own certificate is not a correspondent");

  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  Bytes signature = SignAndVerify(a, b, order, a.user.hash);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."), b.user.hash);

  Bytes envelope = EncryptAndDecrypt(a, b, order, a.user.cipher);
  if (!envelope.empty()) DecodeForeign(a, envelope, "B");
  EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."), b.user.cipher);
}

void RunCertificateUpkeep(Party& a, Party& b, Party& c) {
  Bytes statement = Document("Statement signed by C before the CA revoked C's certificate.");
  Bytes signatureOfC = SignAndVerify(c, a, statement, c.user.hash);
  std::string crl = kMacroBase + "INBOX\\ca.crl";
  a.steps.Succeeds(*a.engine, "IncludeCRL (revokes C)", a.engine->IncludeCRL(crl), crl);
  if (!signatureOfC.empty()) {
    std::string name;
    a.steps.Fails(*a.engine, "VerifyData (C after the CRL)", a.engine->Verify(statement, signatureOfC, name),
                  "C's certificate is revoked");
  }
  a.steps.Succeeds(*a.engine, "UpdateCertificateCash (user B)", a.engine->UpdateCertificateCash(b.uid),
                   "B's certificate reloaded");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid),
                   "B's certificate deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid),
                "B's certificate was removed");
  const int32_t kEnvelopeForOther = -37;
  FinishRound(a, "done", kEnvelopeForOther);
}

}  // namespace

void RunOpenSSLDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  if (!Engine::Create(context.api, kEngineType)) {
    steps.NotAvailable("InitCryptoEngine", "the library builds no OpenSSL engine");
    return;
  }
  try {
    Provision(context.root);
  } catch (const std::exception& error) {
    steps.Unexpected("provision CA, users A, B, C, CRL", error.what());
    return;
  }
  steps.Done("provision CA, users A, B, C, CRL", kMacroBase + "{CA,USERA,USERB,USERC,INBOX}");
  try {
    Party a(context, kUserA), b(context, kUserB), c(context, kUserC);
    if (!OpenParty(context, a) || !OpenParty(context, b) || !OpenParty(context, c)) return;
    RunExchange(a, b, c);
    RunCertificateUpkeep(a, b, c);
  } catch (const HostError& error) {
    steps.Unexpected("(host)", error.what());
  }
}

#else

void RunOpenSSLDemo(const DemoContext& context) {
  DemoSteps steps(context.table, "OpenSSL");
  if (!Engine::Create(context.api, "OpenSSL"))
    steps.NotAvailable("InitCryptoEngine", "the library builds no OpenSSL engine");
  else
    steps.NotAvailable("provisioning", "this build of zkmint has no provisioning kit");
}

#endif

}  // namespace zkmint
