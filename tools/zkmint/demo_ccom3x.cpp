// The CryptoCom 3.x engine between two users. A includes B's public key and B A's; they sign and
// verify each other's documents, encrypt for each other with both methods (GAMMA, GFB), refresh
// and remove keys, and meet the refusals: the own key included or removed, an envelope for
// someone else, a changed document, a removed correspondent. Every path uses the %ZEXRoot% macro.
#include <filesystem>
#include <memory>

#include "callbacks.h"
#include "demo_ccom3x.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "CryptoCom 32x";
const std::string kMacroBase = "%ZEXRoot%\\CCOM3X\\";

using MakeUserFn = int (*)(const char*, const char*, const char*, const char*);

// The stand-in beside zkmint, loaded for its provisioning entry and released afterwards.
class StandIn {
 public:
  bool Open(std::string& error) {
    if (!module_.Open(zkhost::ExecutableDirectory() + "ccom.dll", error)) return false;
    makeUser_ = module_.Function<MakeUserFn>("CCOM_StandIn_MakeUser");
    if (!makeUser_) error = "ccom.dll has no CCOM_StandIn_MakeUser";
    return makeUser_ != nullptr;
  }
  bool MakeUser(const fs::path& dir, const std::string& uid) const {
    const std::string secret = (dir / "SK").string(), file = (dir / "self.pub").string();
    fs::create_directories(dir / "ABONENTS");
    return makeUser_(secret.c_str(), file.c_str(), uid.c_str(), ("zkmint demo user " + uid).c_str()) == 1;
  }

 private:
  zkhost::HostModule module_;
  MakeUserFn makeUser_ = nullptr;
};

struct Party {
  Party(const DemoContext& context, const std::string& letter)
      : letter(letter), steps(context.table, kEngineType + " (user " + letter + ")") {}
  std::string letter;
  DemoSteps steps;
  std::unique_ptr<Engine> engine;
  std::string uid;
  std::string Dir() const { return kMacroBase + "USER" + letter + "\\"; }
};

bool OpenParty(const DemoContext& context, Party& party, const std::string& method) {
  party.engine = Engine::Create(context.api, kEngineType);
  if (!party.engine) {
    party.steps.Unexpected("InitCryptoEngine", "returned null after succeeding before");
    return false;
  }
  party.engine->SetRootPath(context.root);
  party.engine->SetCallbacks(PasswordRequest, TouchMemoryRequest);
  const std::vector<NamedValue> params = {{"User PKey/Certificate", party.Dir() + "self.pub"},
                                          {"User Secret key", party.Dir() + "SK"},
                                          {"Abonents dir", party.Dir() + "ABONENTS"},
                                          {"Encrypt Method", method}};
  if (!SetParamsByName(*party.engine, party.steps, params, "keys under " + party.Dir() + ", " + method)) return false;
  int32_t code = party.engine->CurrentUID(party.uid);
  return party.steps.Succeeds(*party.engine, "GetCurrentUserUID", code, "UID " + party.uid,
                              party.uid.empty() ? "empty UID" : "");
}

Bytes Document(const std::string& text) { return Bytes(text.begin(), text.end()); }

void SignAndVerify(Party& signer, Party& verifier, const Bytes& document, bool tamper) {
  Bytes signature;
  int32_t code = signer.engine->Sign(document, "", signature);
  if (!signer.steps.Succeeds(*signer.engine, "SignData", code, std::to_string(signature.size()) + "-byte signature"))
    return;
  std::string name;
  code = verifier.engine->Verify(document, signature, name);
  verifier.steps.Succeeds(*verifier.engine, "VerifyData (signed by " + signer.letter + ")", code, "signer " + name,
                          code == 0 && name != signer.uid ? "signer reported as " + name : "");
  if (!tamper) return;
  Bytes changed = document;
  changed[changed.size() / 2] ^= 0x01;
  verifier.steps.Fails(*verifier.engine, "VerifyData (one bit of data changed)",
                       verifier.engine->Verify(changed, signature, name), "the data were changed");
}

Bytes EncryptAndDecrypt(Party& sender, Party& recipient, const Bytes& document, const std::string& method) {
  std::string recipientUID;
  int32_t code = sender.engine->EncodeUID(recipient.uid, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "GetEncodeUIDBySignUID", code, recipient.uid + " -> " + recipientUID))
    return {};
  Bytes envelope = document;
  code = sender.engine->Encode(envelope, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "EncodeData (" + method + ", for " + recipient.letter + ")", code,
                             std::to_string(envelope.size()) + "-byte envelope"))
    return {};
  Bytes plain = envelope;
  std::string from;
  code = recipient.engine->Decode(plain, from);
  recipient.steps.Succeeds(*recipient.engine, "DecodeData (from " + sender.letter + ")", code,
                           std::to_string(plain.size()) + " bytes, equal to the original",
                           plain == document ? "" : "the decrypted data differ from the original");
  return envelope;
}

void RunExchange(Party& a, Party& b) {
  a.steps.Succeeds(*a.engine, "IncludePublicKey (user B)", a.engine->IncludePublicKey(b.Dir() + "self.pub"),
                   b.Dir() + "self.pub");
  b.steps.Succeeds(*b.engine, "IncludePublicKey (user A)", b.engine->IncludePublicKey(a.Dir() + "self.pub"),
                   a.Dir() + "self.pub");
  a.steps.Fails(*a.engine, "IncludePublicKey (own key)", a.engine->IncludePublicKey(a.Dir() + "self.pub"),
                "the own key is not a correspondent");

  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  SignAndVerify(a, b, order, true);
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."), false);

  Bytes envelope = EncryptAndDecrypt(a, b, order, "GAMMA");
  if (!envelope.empty()) {
    std::string from;
    a.steps.Fails(*a.engine, "DecodeData (envelope for B)", a.engine->Decode(envelope, from),
                  "the envelope is for another user");
  }
  EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."), "GFB");
}

void RunKeyUpkeep(Party& a, Party& b) {
  a.steps.Succeeds(*a.engine, "UpdateCertificateCash (user B)", a.engine->UpdateCertificateCash(b.uid),
                   "B's key read again");
  a.steps.Fails(*a.engine, "RemoveCertificate (own key)", a.engine->RemoveCertificate(a.uid),
                "the own key is not removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid), "B's key deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid), "B's key was removed");
  a.steps.Fails(*a.engine, "IncludeCRL", a.engine->IncludeCRL(a.Dir() + "none.crl"), "this engine keeps no CRLs");
  a.engine->ClearCash();
  a.steps.Done("ClearCash", "keys dropped");
  std::string uid;
  int32_t code = a.engine->CurrentUID(uid);
  a.steps.Succeeds(*a.engine, "GetCurrentUserUID (after ClearCash)", code, "UID " + uid,
                   code == 0 && uid != a.uid ? "UID changed to " + uid : "");
  const int32_t kEnvelopeForOther = -16;
  std::string text = a.engine->ErrorText(kEnvelopeForOther);
  if (text.empty())
    a.steps.Unexpected("GetCryptoErrorString(-16)", "empty text");
  else
    a.steps.Done("GetCryptoErrorString(-16)", text);
}

}  // namespace

void RunCCom3xDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  if (!Engine::Create(context.api, kEngineType)) {
    steps.NotAvailable("InitCryptoEngine", "the library builds no CryptoCom 3.x engine");
    return;
  }
  StandIn standIn;
  std::string error;
  if (!standIn.Open(error)) {
    steps.NotAvailable("provisioning", "no stand-in toolkit beside zkmint (" + error + ")");
    return;
  }
  const fs::path base = fs::path(context.root) / "CCOM3X";
  if (!standIn.MakeUser(base / "USERA", "Demo user A") || !standIn.MakeUser(base / "USERB", "Demo user B")) {
    steps.Unexpected("provision users A, B", "CCOM_StandIn_MakeUser failed");
    return;
  }
  steps.Done("provision users A, B", kMacroBase + "{USERA,USERB}\\{SK,self.pub,ABONENTS}");
  try {
    Party a(context, "A"), b(context, "B");
    if (!OpenParty(context, a, "GAMMA") || !OpenParty(context, b, "GFB")) return;
    RunExchange(a, b);
    RunKeyUpkeep(a, b);
  } catch (const HostError& failure) {
    steps.Unexpected("(host)", failure.what());
  }
}

}  // namespace zkmint
