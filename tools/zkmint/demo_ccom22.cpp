// The Crypto COM 2.2 engine between three users whose certificates one authority issued. A takes
// B's and C's certificates into its directory, signs for B, encrypts for B alone and in one
// package for B and C, and meets the refusals: a changed document, a record or package not meant
// for the reader, its own certificate removed, a removed correspondent. Paths use %ZEXRoot%.
#include "demo_ccom22.h"

#include <ctime>
#include <filesystem>

#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "Crypto COM/2.2";
const std::string kMacroBase = "%ZEXRoot%\\CCOM22\\";
const char* const kLetters[] = {"A", "B", "C"};

using MakeAuthorityFn = int (*)(const char*, int32_t, char*);
using MakeUserFn = int (*)(const char*, int32_t, const char*, int32_t, int64_t, int64_t, const char*, const char*,
                           const char*);
using MakeRandomFileFn = int (*)(const char*, int32_t);

std::string UID(const std::string& letter) { return letter + ".1"; }
std::string UserDir(const std::string& letter) { return kMacroBase + "USER" + letter + "\\"; }

// <root>/CCOM22/USERx/{crt,sec,self.crt,rand}, and in each user's folder a copy of every other
// user's certificate (<y>.crt) to include.
std::string Provision(zkhost::HostModule& module, const std::string& root) {
  auto makeAuthority = module.Function<MakeAuthorityFn>("CC_StandIn_MakeAuthority");
  auto makeUser = module.Function<MakeUserFn>("CC_StandIn_MakeUser");
  auto makeRandom = module.Function<MakeRandomFileFn>("CC_StandIn_MakeRandomFile");
  if (!makeAuthority || !makeUser || !makeRandom) return "cc.dll lacks its provisioning exports";
  const fs::path base = fs::path(root) / "CCOM22";
  fs::create_directories(base / "AUTHORITY");
  char authority[65] = {};
  if (makeAuthority((base / "AUTHORITY").string().c_str(), 1, authority) != 0) return "no authority key";
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  int32_t keyNumber = 21;
  for (const char* letter : kLetters) {
    const fs::path dir = base / ("USER" + std::string(letter));
    fs::create_directories(dir / "crt");
    fs::create_directories(dir / "sec");
    if (makeUser(authority, 1, UID(letter).c_str(), keyNumber++, now - 86400, now + 365 * 86400,
                 (dir / "crt").string().c_str(), (dir / "sec").string().c_str(), (dir / "self.crt").string().c_str()) != 0 ||
        makeRandom((dir / "rand").string().c_str(), 4096) != 0)
      return std::string("user ") + letter + " could not be issued";
  }
  for (const char* holder : kLetters) {
    for (const char* owner : kLetters) {
      if (std::string(holder) == owner) continue;
      fs::copy_file(base / ("USER" + std::string(owner)) / "self.crt",
                    base / ("USER" + std::string(holder)) / (std::string(owner) + ".crt"),
                    fs::copy_options::overwrite_existing);
    }
  }
  return std::string();
}

bool OpenParty(const DemoContext& context, DemoParty& party) {
  const std::string dir = UserDir(party.letter);
  const std::vector<NamedValue> params = {{"Current dir", dir},           {"Secret Path", dir + "sec"},
                                          {"Public Path", dir + "crt"},   {"User Id", UID(party.letter)},
                                          {"Random file", dir + "rand"},  {"Current user certificate", dir + "self.crt"}};
  return OpenDemoParty(context, kEngineType, party, params, "keys under " + dir, UID(party.letter));
}

void Include(DemoParty& holder, const DemoParty& owner) {
  const std::string file = UserDir(holder.letter) + owner.letter + ".crt";
  holder.steps.Succeeds(*holder.engine, "IncludePublicKey (user " + owner.letter + ")",
                        holder.engine->IncludePublicKey(file), file + " -> crt\\" + owner.letter + "\\@\\1.crt");
}

void EncryptForTwo(DemoParty& a, DemoParty& b, DemoParty& c) {
  const Bytes order = Document("Payment order 19: 75.00 RUB, for B and C alike.");
  Bytes package = order;
  const std::string recipients = b.uid + ";" + c.uid;
  int32_t code = a.engine->Encode(package, recipients);
  if (!a.steps.Succeeds(*a.engine, "EncodeData (package for B and C)", code,
                        std::to_string(package.size()) + "-byte package (8 + 288 x 2 + body)"))
    return;
  for (DemoParty* reader : {&b, &c}) {
    Bytes plain = package;
    std::string from;
    code = reader->engine->Decode(plain, from);
    reader->steps.Succeeds(*reader->engine, "DecodeData (package from A)", code, std::to_string(plain.size()) + " bytes",
                           plain == order ? "" : "the decrypted data differ from the original");
  }
  DecodeForeign(a, package, "B and C");
}

void RunScenario(DemoParty& a, DemoParty& b, DemoParty& c) {
  Include(a, b);
  Include(a, c);
  Include(b, a);
  Include(c, a);
  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  const Bytes record = EncryptAndDecrypt(a, b, order, "");
  if (!record.empty()) DecodeForeign(c, record, "B");
  EncryptForTwo(a, b, c);

  a.steps.Succeeds(*a.engine, "UpdateCertificateCash (user B)", a.engine->UpdateCertificateCash(b.uid),
                   "B's certificate read again");
  a.steps.Fails(*a.engine, "RemoveCertificate (own UID)", a.engine->RemoveCertificate(a.uid),
                "the own certificate cannot be removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user C)", a.engine->RemoveCertificate(c.uid), "C's certificate deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed C)", a.engine->Encode(data, c.uid), "C's certificate was removed");
  a.steps.Fails(*a.engine, "IncludeCRL", a.engine->IncludeCRL(UserDir("A") + "none.crl"), "this engine keeps no CRLs");
  const int32_t kCannotDecrypt = -35;
  FinishRound(a, "key files and certificate UIDs dropped, random file written back", kCannotDecrypt);
}

}  // namespace

void RunCCom22Demo(const DemoContext& context) {
  RunThreePartyRound(context, {kEngineType, "cc.dll", kMacroBase + "{USERA,USERB,USERC}\\{crt,sec,self.crt,rand}",
                               Provision, OpenParty, RunScenario});
}

}  // namespace zkmint
