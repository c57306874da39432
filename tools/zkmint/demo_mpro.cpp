// A Message-PRO round between three users whose certificates one authority issued. A takes B's
// and C's certificates into its directory, signs for B, encrypts for B and C, and meets the
// refusals: a changed document, an envelope not meant for the reader, its own certificate, and C
// once a CRL revokes C's certificate.
#include "demo_mpro.h"

#include <filesystem>

#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const char* const kLetters[] = {"A", "B", "C"};

using MakeCaFn = int (*)(const char*, const char*, const char*);
using MakeUserFn = int (*)(const char*, const char*, const char*, int64_t, const char*, const char*);
using MakeCrlFn = int (*)(const char*, const char*, const char*, const char*);

struct Round {
  std::string type;
  std::string plugin;  // the plug-in's file
  fs::path base;       // <root>/MPRO<kind>
  fs::path User(const std::string& letter) const { return base / ("USER" + letter); }
  std::string Cert(const std::string& letter) const { return (User(letter) / "certs" / (letter + ".pem")).string(); }
};

// <base>/CA.{KEY,PEM}, <base>/USERx/{certs/x.pem, x.pse}, and <base>/x.pem to include.
std::string Provision(zkhost::HostModule& module, const Round& round, MakeCrlFn& makeCrl) {
  auto makeCa = module.Function<MakeCaFn>("MPro_StandIn_MakeCa");
  auto makeUser = module.Function<MakeUserFn>("MPro_StandIn_MakeUser");
  makeCrl = module.Function<MakeCrlFn>("MPro_StandIn_MakeCrl");
  if (!makeCa || !makeUser || !makeCrl) return round.plugin + " lacks its provisioning exports";
  fs::create_directories(round.base);
  const std::string caKey = (round.base / "CA.KEY").string(), caCert = (round.base / "CA.PEM").string();
  if (makeCa("/C=RU/O=Demo Bank/CN=Demo Root", caKey.c_str(), caCert.c_str()) != 0) return "no authority";
  for (const char* letter : kLetters) {
    fs::create_directories(round.User(letter) / "certs");
    const std::string subject = std::string("/C=RU/O=Demo Bank/CN=") + letter;
    if (makeUser(caKey.c_str(), caCert.c_str(), subject.c_str(), 365 * 86400,
                 (round.User(letter) / (std::string(letter) + ".pse")).string().c_str(), round.Cert(letter).c_str()) != 0)
      return std::string("user ") + letter + " could not be issued";
    fs::copy_file(round.Cert(letter), round.base / (std::string(letter) + ".pem"), fs::copy_options::overwrite_existing);
  }
  return std::string();
}

bool OpenParty(const DemoContext& context, const Round& round, DemoParty& party) {
  const fs::path dir = round.User(party.letter);
  const std::vector<NamedValue> params = {{"Own certificate", round.Cert(party.letter)},
                                          {"Certificate directory", (dir / "certs").string()},
                                          {"Work directory", dir.string()},
                                          {"PSE file", (dir / (party.letter + ".pse")).string()},
                                          {"Trusted CA certificate", (round.base / "CA.PEM").string()},
                                          {"Context time-out", "60"}};
  return OpenDemoParty(context, round.type, party, params, "certificates under " + dir.string(), party.letter);
}

void Include(const Round& round, DemoParty& holder, const DemoParty& owner) {
  const std::string file = (round.base / (owner.letter + ".pem")).string();
  holder.steps.Succeeds(*holder.engine, "IncludePublicKey (user " + owner.letter + ")",
                        holder.engine->IncludePublicKey(file), "certs/" + owner.letter + ".pem");
}

void RunScenario(const Round& round, MakeCrlFn makeCrl, DemoParty& a, DemoParty& b, DemoParty& c) {
  Include(round, a, b);
  Include(round, a, c);
  Include(round, b, a);
  Include(round, c, a);
  const Bytes order = Document("Payment order 21: 300.00 RUB from A to B, account 40702810900000000021.");
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  const Bytes envelope = EncryptAndDecrypt(a, b, order, "");
  if (!envelope.empty()) DecodeForeign(c, envelope, "B");
  Bytes both = Document("Notice for B and C alike.");
  const int32_t code = a.engine->Encode(both, b.uid + ";" + c.uid);
  a.steps.Succeeds(*a.engine, "EncodeData (for B and C)", code, std::to_string(both.size()) + "-byte envelope");

  const std::string crl = (round.base / "REVOKE_C.CRL").string();
  if (makeCrl((round.base / "CA.KEY").string().c_str(), (round.base / "CA.PEM").string().c_str(),
              round.Cert("C").c_str(), crl.c_str()) != 0) {
    a.steps.Unexpected("provision CRL", "the authority could not issue a CRL");
    return;
  }
  a.steps.Succeeds(*a.engine, "IncludeCRL (C revoked)", a.engine->IncludeCRL(crl), "CRL/crl<N>.pem");
  Bytes data = Document("After the revocation");
  a.steps.Fails(*a.engine, "EncodeData (for revoked C)", a.engine->Encode(data, c.uid), "C's certificate is revoked");
  a.steps.Fails(*a.engine, "RemoveCertificate (own UID)", a.engine->RemoveCertificate(a.uid),
                "the own certificate cannot be removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user C)", a.engine->RemoveCertificate(c.uid), "C's certificate deleted");
  const int32_t kUnknownAbonent = -113;
  FinishRound(a, "plug-in contexts finished", kUnknownAbonent);
}

}  // namespace

bool IsMProType(const std::string& type) {
  return type == "Message-PRO 1.1" || type == "M-Pro v1.34 (GOST PSE)" || type == "M-Pro v2.x";
}

void RunMProDemo(const DemoContext& context, const std::string& type) {
  DemoSteps steps(context.table, type);
  const int kind = type == "Message-PRO 1.1" ? 0 : type == "M-Pro v2.x" ? 2 : 1;
  const char* files[3] = {"mplug.dll", "mplugf.dll", "mplug2.dll"};
  Round round{type, files[kind], fs::path(context.root) / ("MPRO" + std::to_string(kind))};
  zkhost::HostModule module;
  if (!OpenRoundToolkit(context, steps, type, round.plugin, module, {})) return;
  try {
    MakeCrlFn makeCrl = nullptr;
    const std::string error = Provision(module, round, makeCrl);
    if (!error.empty()) {
      steps.Unexpected("provision users A, B, C", error);
      return;
    }
    steps.Done("provision users A, B, C", round.base.string() + "/{USERA,USERB,USERC}");
    DemoParty a(context.table, type, "A"), b(context.table, type, "B"), c(context.table, type, "C");
    if (!OpenParty(context, round, a) || !OpenParty(context, round, b) || !OpenParty(context, round, c)) return;
    RunScenario(round, makeCrl, a, b, c);
  } catch (const std::exception& failure) {
    steps.Unexpected("(host)", failure.what());
  }
}

}  // namespace zkmint
