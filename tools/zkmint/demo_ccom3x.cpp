// The CryptoCom 3.x engine between two users. A includes B's public key and B A's; they sign and
// verify each other's documents, encrypt for each other with both methods (GAMMA, GFB), refresh
// and remove keys, and meet the refusals: the own key included or removed, an envelope for
// someone else, a changed document, a removed correspondent. Every path uses the %ZEXRoot% macro.
#include <filesystem>

#include "demo_ccom3x.h"
#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "CryptoCom 32x";
const std::string kMacroBase = "%ZEXRoot%\\CCOM3X\\";

using MakeUserFn = int (*)(const char*, const char*, const char*, const char*);

// The stand-in beside zkmint, loaded for its provisioning entry and released afterwards.
class StandIn {
 public:
  bool Open(const DemoContext& context, DemoSteps& steps) {
    if (!OpenRoundToolkit(context, steps, kEngineType, "ccom.dll", module_, {"CCOM_StandIn_MakeUser"})) return false;
    makeUser_ = module_.Function<MakeUserFn>("CCOM_StandIn_MakeUser");
    return true;
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

std::string UserDir(const DemoParty& party) { return kMacroBase + "USER" + party.letter + "\\"; }

bool OpenParty(const DemoContext& context, DemoParty& party, const std::string& method) {
  const std::string dir = UserDir(party);
  const std::vector<NamedValue> params = {{"User PKey/Certificate", dir + "self.pub"},
                                          {"User Secret key", dir + "SK"},
                                          {"Abonents dir", dir + "ABONENTS"},
                                          {"Encrypt Method", method}};
  return OpenDemoParty(context, kEngineType, party, params, "keys under " + dir + ", " + method);
}

void RunExchange(DemoParty& a, DemoParty& b) {
  a.steps.Succeeds(*a.engine, "IncludePublicKey (user B)", a.engine->IncludePublicKey(UserDir(b) + "self.pub"),
                   UserDir(b) + "self.pub");
  b.steps.Succeeds(*b.engine, "IncludePublicKey (user A)", b.engine->IncludePublicKey(UserDir(a) + "self.pub"),
                   UserDir(a) + "self.pub");
  a.steps.Fails(*a.engine, "IncludePublicKey (own key)", a.engine->IncludePublicKey(UserDir(a) + "self.pub"),
                "the own key is not a correspondent");

  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."));

  const Bytes envelope = EncryptAndDecrypt(a, b, order, "GAMMA");
  if (!envelope.empty()) DecodeForeign(a, envelope, "B");
  EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."), "GFB");
}

void RunKeyUpkeep(DemoParty& a, DemoParty& b) {
  a.steps.Succeeds(*a.engine, "UpdateCertificateCash (user B)", a.engine->UpdateCertificateCash(b.uid),
                   "B's key read again");
  a.steps.Fails(*a.engine, "RemoveCertificate (own key)", a.engine->RemoveCertificate(a.uid),
                "the own key is not removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid), "B's key deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid), "B's key was removed");
  a.steps.Fails(*a.engine, "IncludeCRL", a.engine->IncludeCRL(UserDir(a) + "none.crl"), "this engine keeps no CRLs");
  const int32_t kEnvelopeForOther = -16;
  FinishRound(a, "keys dropped", kEnvelopeForOther);
}

}  // namespace

void RunCCom3xDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  StandIn standIn;
  if (!standIn.Open(context, steps)) return;
  const fs::path base = fs::path(context.root) / "CCOM3X";
  if (!standIn.MakeUser(base / "USERA", "Demo user A") || !standIn.MakeUser(base / "USERB", "Demo user B")) {
    steps.Unexpected("provision users A, B", "CCOM_StandIn_MakeUser failed");
    return;
  }
  steps.Done("provision users A, B", kMacroBase + "{USERA,USERB}\\{SK,self.pub,ABONENTS}");
  try {
    DemoParty a(context.table, kEngineType, "A"), b(context.table, kEngineType, "B");
    if (!OpenParty(context, a, "GAMMA") || !OpenParty(context, b, "GFB")) return;
    RunExchange(a, b);
    RunKeyUpkeep(a, b);
  } catch (const HostError& failure) {
    steps.Unexpected("(host)", failure.what());
  }
}

}  // namespace zkmint
