// The Verba-OW engine between two users, key numbers 0001 and 0002, their key sets in directories
// (the demo hands its parameter files on to later zkmint runs, which a touch memory named only in
// this process would not reach). They include each other's public keys, sign and verify, encrypt for each other, remove a key and meet the
// refusals: a changed document, an envelope for someone else, the own key removed, a removed
// correspondent. The key paths use the %ZEXRoot% macro.
#include <filesystem>

#include "demo_party.h"
#include "demo_verbaow.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "Verba-OW/4";
const std::string kMacroBase = "%ZEXRoot%\\VERBAOW\\";

using MakeKeySetFn = int (*)(const char*, const char*, const char*, const char*, int);

struct UserSpec {
  std::string letter, encId, signId;
};
const UserSpec kUserA{"A", "0001000777", "000100077701"};
const UserSpec kUserB{"B", "0002000777", "000200077701"};

// The stand-in beside zkmint, loaded for its provisioning entry.
class StandIn {
 public:
  bool Open(const DemoContext& context, DemoSteps& steps) {
    if (!OpenRoundToolkit(context, steps, kEngineType, "wbotho.dll", module_, {"VOW_StandIn_MakeKeySet"})) return false;
    makeKeySet_ = module_.Function<MakeKeySetFn>("VOW_StandIn_MakeKeySet");
    return true;
  }
  bool Provision(const fs::path& dir, const UserSpec& user) const {
    for (const char* sub : {"DEVICE", "SECRET", "PUBLIC"}) fs::create_directories(dir / sub);
    const std::string device = (dir / "DEVICE").string(), file = (dir / "self.pk").string();
    return makeKeySet_(device.c_str(), user.encId.c_str(), user.signId.c_str(), file.c_str(), 0) == 0;
  }

 private:
  zkhost::HostModule module_;
  MakeKeySetFn makeKeySet_ = nullptr;
};

std::string UserDir(const DemoParty& party) { return kMacroBase + "USER" + party.letter + "\\"; }

bool OpenParty(const DemoContext& context, DemoParty& party, const UserSpec& user, const std::string& device) {
  const std::string dir = UserDir(party);
  const std::vector<NamedValue> params = {{"Path to secret", dir + "SECRET"}, {"Path to public", dir + "PUBLIC"},
                                          {"Encode UID", user.encId},        {"Sign UID", user.signId},
                                          {"Key device", device}};
  return OpenDemoParty(context, kEngineType, party, params, "keys on " + device + ", directory " + dir + "PUBLIC",
                       user.signId);
}

void RunExchange(DemoParty& a, DemoParty& b) {
  a.steps.Succeeds(*a.engine, "IncludePublicKey (user B)", a.engine->IncludePublicKey(UserDir(b) + "self.pk"),
                   UserDir(b) + "self.pk");
  b.steps.Succeeds(*b.engine, "IncludePublicKey (user A)", b.engine->IncludePublicKey(UserDir(a) + "self.pk"),
                   UserDir(a) + "self.pk");
  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."));

  const Bytes envelope = EncryptAndDecrypt(a, b, order, "");
  if (!envelope.empty()) DecodeForeign(a, envelope, "B");
  EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."), "");
}

void RunKeyUpkeep(DemoParty& a, DemoParty& b) {
  a.steps.Fails(*a.engine, "RemoveCertificate (own key)", a.engine->RemoveCertificate(a.uid),
                "the own key is not removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid), "B's key deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, "0002"), "B's key was removed");
  const int32_t kNotInDirectory = 117;
  FinishRound(a, "loaded keys forgotten", kNotInDirectory);
}

}  // namespace

void RunVerbaOWDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  StandIn standIn;
  if (!standIn.Open(context, steps)) return;
  const fs::path base = fs::path(context.root) / "VERBAOW";
  if (!standIn.Provision(base / "USERA", kUserA) || !standIn.Provision(base / "USERB", kUserB)) {
    steps.Unexpected("provision users A, B", "VOW_StandIn_MakeKeySet failed");
    return;
  }
  steps.Done("provision users A, B", kMacroBase + "{USERA,USERB}\\{DEVICE,SECRET,PUBLIC,self.pk}");
  try {
    DemoParty a(context.table, kEngineType, "A"), b(context.table, kEngineType, "B");
    if (!OpenParty(context, a, kUserA, (base / "USERA" / "DEVICE").string()) ||
        !OpenParty(context, b, kUserB, (base / "USERB" / "DEVICE").string())) {
      return;
    }
    RunExchange(a, b);
    RunKeyUpkeep(a, b);
  } catch (const HostError& failure) {
    steps.Unexpected("(host)", failure.what());
  }
}

}  // namespace zkmint
