// One user of a demo round between users of the same engine, and the steps that every engine's
// round shares: opening the user's engine, signing and verifying, encrypting and decrypting, and
// the closing cache clear.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "demo.h"
#include "engine.h"
#include "zk_loader.h"

namespace zkmint {

struct DemoParty {
  DemoParty(DemoTable& table, const std::string& engineType, const std::string& letter)
      : letter(letter), steps(table, engineType + " (user " + letter + ")") {}
  std::string letter;  // A, B, C
  DemoSteps steps;
  std::unique_ptr<Engine> engine;
  std::string uid;
};

Bytes Document(const std::string& text);

// The start of a round: the library must build `engineType`, and the stand-in toolkit `toolkitFile`
// must load from the demo's toolkit folder into `module` with each of `exports`. False, with the
// row written, when anything is missing.
bool OpenRoundToolkit(const DemoContext& context, DemoSteps& steps, const std::string& engineType,
                      const std::string& toolkitFile, zkhost::HostModule& module,
                      std::initializer_list<const char*> exports);

// A round between users A, B and C that the stand-in provisions at once. `provision` makes their
// keys under the sandbox root and answers an error text, empty on success (`provisioned` then
// says what it made); `openParty` opens one party's engine; `scenario` is the round itself.
struct ThreePartyRound {
  std::string engineType, toolkitFile, provisioned;
  std::string (*provision)(zkhost::HostModule& toolkit, const std::string& root);
  bool (*openParty)(const DemoContext& context, DemoParty& party);
  void (*scenario)(DemoParty& a, DemoParty& b, DemoParty& c);
};
void RunThreePartyRound(const DemoContext& context, const ThreePartyRound& round);

// Creates the party's engine with the sandbox root and the callbacks, sets its parameters by
// name and reads its UID, which must equal `expectedUID` (when given) or at least not be empty.
bool OpenDemoParty(const DemoContext& context, const std::string& engineType, DemoParty& party,
                   const std::vector<NamedValue>& params, const std::string& summary,
                   const std::string& expectedUID = "");

// The signer signs ("SignData" plus `detail` in brackets when given), the verifier checks it.
// Returns the signature, empty when signing failed.
Bytes SignAndVerify(DemoParty& signer, DemoParty& verifier, const Bytes& document, const std::string& detail = "");
// The verifier must refuse the signature once one bit of the document has changed.
void VerifyTampered(DemoParty& verifier, Bytes document, const Bytes& signature);

// The sender encrypts for the recipient ("EncodeData (<method>, for B)"; no method when empty),
// the recipient decrypts. Returns the envelope, empty when encrypting failed.
Bytes EncryptAndDecrypt(DemoParty& sender, DemoParty& recipient, const Bytes& document, const std::string& method);
// The party must not open an envelope made for someone else.
void DecodeForeign(DemoParty& party, Bytes envelope, const std::string& recipientLetter);

// ClearCash (described by `clearDetail`), the UID read once more, and the text of `textCode`.
void FinishRound(DemoParty& party, const std::string& clearDetail, int32_t textCode);

}  // namespace zkmint
