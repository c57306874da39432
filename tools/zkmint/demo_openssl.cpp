// The OpenSSL engine between three users of one CA. User A signs with SHA and encrypts with RC4,
// user B signs with MD5 and encrypts with RC5 in CBC mode (1024- and 2048-bit keys); user C's
// certificate is revoked by a CRL that A includes half-way, so that the same signature of C
// verifies before and fails after. Every path parameter uses the %ZEXRoot% macro.
#include <memory>

#include "callbacks.h"
#include "demo.h"

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

struct Party {
  Party(const DemoContext& context, const UserSpec& spec)
      : user(spec), steps(context.table, kEngineType + " (user " + spec.letter + ")") {}
  const UserSpec& user;
  DemoSteps steps;
  std::unique_ptr<Engine> engine;
  std::string uid;
};

std::vector<NamedValue> PartyParams(const UserSpec& user) {
  std::string dir = kMacroBase + UserDir(user) + "\\";
  return {{"User Secret key", dir + "self.key"}, {"User Certificate", dir + "self.cer"},
          {"Abonents dir", dir + "ABONENTS"},    {"CA dir", kMacroBase + "CA"},
          {"CRL dir", kMacroBase + "CRL"},       {"RND file", kMacroBase + "@rand"},
          {"Hash Method", user.hash},            {"Encrypt Method", user.cipher}};
}

bool OpenParty(const DemoContext& context, Party& party) {
  party.engine = Engine::Create(context.api, kEngineType);
  if (!party.engine) {
    party.steps.Unexpected("InitCryptoEngine", "returned null after succeeding for another user");
    return false;
  }
  party.engine->SetRootPath(context.root);
  party.engine->SetCallbacks(PasswordRequest, TouchMemoryRequest);
  std::string summary = "keys under " + kMacroBase + UserDir(party.user) + ", " + party.user.hash + ", " +
                        party.user.cipher;
  if (!SetParamsByName(*party.engine, party.steps, PartyParams(party.user), summary)) return false;
  int32_t code = party.engine->CurrentUID(party.uid);
  return party.steps.Succeeds(*party.engine, "GetCurrentUserUID", code, "UID " + party.uid,
                              party.uid.empty() ? "empty UID" : "");
}

void IncludeCertificateOf(Party& receiver, const Party& owner) {
  std::string file = kMacroBase + UserDir(owner.user) + "\\self.cer";
  receiver.steps.Succeeds(*receiver.engine, "IncludePublicKey (user " + owner.user.letter + ")",
                          receiver.engine->IncludePublicKey(file), file);
}

Bytes Document(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Returns the signature (empty when signing failed).
Bytes SignAndVerify(Party& signer, Party& verifier, const Bytes& document) {
  Bytes signature;
  int32_t code = signer.engine->Sign(document, "", signature);
  if (!signer.steps.Succeeds(*signer.engine, "SignData (" + signer.user.hash + ")", code,
                             std::to_string(signature.size()) + "-byte signature"))
    return {};
  std::string name;
  code = verifier.engine->Verify(document, signature, name);
  verifier.steps.Succeeds(*verifier.engine, "VerifyData (signed by " + signer.user.letter + ")", code,
                          "signer " + name, code == 0 && name != signer.uid ? "signer reported as " + name : "");
  return signature;
}

void VerifyTampered(Party& verifier, Bytes document, const Bytes& signature) {
  document[document.size() / 2] ^= 0x01;
  std::string name;
  verifier.steps.Fails(*verifier.engine, "VerifyData (one bit of data changed)",
                       verifier.engine->Verify(document, signature, name), "the data were changed");
}

// Returns the envelope (empty when encoding failed).
Bytes EncryptAndDecrypt(Party& sender, Party& recipient, const Bytes& document) {
  std::string recipientUID;
  int32_t code = sender.engine->EncodeUID(recipient.uid, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "GetEncodeUIDBySignUID", code, recipient.uid + " -> " + recipientUID))
    return {};
  Bytes envelope = document;
  code = sender.engine->Encode(envelope, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "EncodeData (" + sender.user.cipher + ", for " + recipient.user.letter + ")",
                             code, std::to_string(envelope.size()) + "-byte envelope"))
    return {};
  Bytes plain = envelope;
  std::string from;
  code = recipient.engine->Decode(plain, from);
  recipient.steps.Succeeds(*recipient.engine, "DecodeData (from " + sender.user.letter + ")", code,
                           std::to_string(plain.size()) + " bytes, equal to the original",
                           plain == document ? "" : "the decrypted data differ from the original");
  return envelope;
}

void RunExchange(Party& a, Party& b, Party& c) {
  IncludeCertificateOf(a, b);
  IncludeCertificateOf(b, a);
  IncludeCertificateOf(a, c);
  a.steps.Fails(*a.engine, "IncludePublicKey (own certificate)",
                a.engine->IncludePublicKey(kMacroBase + "USERA\\self.cer"), "the own certificate is not a correspondent");

  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."));

  Bytes envelope = EncryptAndDecrypt(a, b, order);
  if (!envelope.empty()) {
    std::string from;
    a.steps.Fails(*a.engine, "DecodeData (envelope for B)", a.engine->Decode(envelope, from),
                  "the envelope is for another user");
  }
  EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."));
}

void RunCertificateUpkeep(Party& a, Party& b, Party& c) {
  Bytes statement = Document("Statement signed by C before the CA revoked C's certificate.");
  Bytes signatureOfC = SignAndVerify(c, a, statement);
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
  a.engine->ClearCash();
  a.steps.Done("ClearCash", "done");
  std::string uid;
  int32_t code = a.engine->CurrentUID(uid);
  a.steps.Succeeds(*a.engine, "GetCurrentUserUID (after ClearCash)", code, "UID " + uid,
                   code == 0 && uid != a.uid ? "UID changed to " + uid : "");
  const int32_t kEnvelopeForOther = -37;
  std::string text = a.engine->ErrorText(kEnvelopeForOther);
  if (text.empty())
    a.steps.Unexpected("GetCryptoErrorString(-37)", "empty text");
  else
    a.steps.Done("GetCryptoErrorString(-37)", text);
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
