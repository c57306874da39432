#include "commands.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <new>

#include "callbacks.h"
#include "cp1251_utf8.h"
#include "describe.h"
#include "engine.h"
#include "files.h"

namespace zkmint {
namespace {

using Handler = int (*)(Engine& engine, const Options& options);

struct CommandSpec {
  size_t operands;
  Handler handler;  // null: the command needs no engine
};

int Fail(Engine& engine, const std::string& operation, int32_t code) {
  std::fprintf(stderr, "zkmint: %s failed with code %d: %s\n", operation.c_str(), static_cast<int>(code),
               engine.ErrorText(code).c_str());
  return kExitFailed;
}

int Complain(const std::string& message, int status) {
  std::fprintf(stderr, "zkmint: %s\n", message.c_str());
  return status;
}

std::string Shown(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

int ListEngines(const zkhost::ZkApi& api) {
  std::vector<std::string> types = ListEngineTypes(api);
  for (size_t i = 0; i < types.size(); ++i) {
    bool available = Engine::Create(api, types[i]) != nullptr;
    std::printf("%2d  %-28s  %s\n", static_cast<int>(i + 1), Shown(types[i]).c_str(), available ? "available" : "not available");
  }
  return kExitOk;
}

int ShowParams(Engine& engine, const Options&) {
  for (const EngineParam& param : engine.Params())
    std::printf("%3d  %-32s  %s\n", static_cast<int>(param.index), Shown(param.name).c_str(),
                Shown(param.value).c_str());
  return kExitOk;
}

int ShowUID(Engine& engine, const Options&) {
  std::string uid;
  int32_t code = engine.CurrentUID(uid);
  if (code != 0) return Fail(engine, "GetCurrentUserUID", code);
  std::printf("%s\n", uid.c_str());
  return kExitOk;
}

int Sign(Engine& engine, const Options& options) {
  const std::string& input = options.operands[0];
  // Data read from standard input have no name to derive the signature's file name from.
  std::string out = !options.out.empty() ? options.out : input == "-" ? "-" : input + ".sig", error;
  Bytes data, signature;
  if (!ReadInput(input, data, error)) return Complain(error, kExitFailed);
  int32_t code = engine.Sign(data, options.signer, signature);
  if (code != 0) return Fail(engine, "SignData", code);
  if (!WriteOutput(out, signature, error)) return Complain(error, kExitFailed);
  std::fprintf(stderr, "zkmint: %d-byte signature written to %s\n", static_cast<int>(signature.size()), out.c_str());
  return kExitOk;
}

int Verify(Engine& engine, const Options& options) {
  const std::string& input = options.operands[0];
  if (input == "-" && options.signature.empty())
    return Complain("verify of standard input needs --signature FILE", kExitUsage);
  std::string signatureFile = options.signature.empty() ? input + ".sig" : options.signature, error;
  Bytes data, signature;
  if (!ReadInput(input, data, error) || !ReadInput(signatureFile, signature, error))
    return Complain(error, kExitFailed);
  std::string signer;
  int32_t code = engine.Verify(data, signature, signer);
  if (code != 0) return Fail(engine, "VerifyData", code);
  std::printf("verified; signer: %s\n", signer.empty() ? "(not named by the engine)" : signer.c_str());
  return kExitOk;
}

int Encrypt(Engine& engine, const Options& options) {
  std::string out = options.out.empty() ? "-" : options.out, error;
  Bytes data;
  if (!ReadInput(options.operands[0], data, error)) return Complain(error, kExitFailed);
  int32_t code = engine.Encode(data, options.recipients);
  if (code != 0) return Fail(engine, "EncodeData", code);
  return WriteOutput(out, data, error) ? kExitOk : Complain(error, kExitFailed);
}

int Decrypt(Engine& engine, const Options& options) {
  std::string out = options.out.empty() ? "-" : options.out, error, sender;
  Bytes data;
  if (!ReadInput(options.operands[0], data, error)) return Complain(error, kExitFailed);
  int32_t code = engine.Decode(data, sender);
  if (code != 0) return Fail(engine, "DecodeData", code);
  if (!WriteOutput(out, data, error)) return Complain(error, kExitFailed);
  if (!sender.empty()) std::fprintf(stderr, "zkmint: sender: %s\n", sender.c_str());
  return kExitOk;
}

int EncodeUID(Engine& engine, const Options& options) {
  std::string uid;
  int32_t code = engine.EncodeUID(options.operands[0], uid);
  if (code != 0) return Fail(engine, "GetEncodeUIDBySignUID", code);
  std::printf("%s\n", uid.c_str());
  return kExitOk;
}

int IncludeKey(Engine& engine, const Options& options) {
  int32_t code = engine.IncludePublicKey(options.operands[0]);
  return code == 0 ? kExitOk : Fail(engine, "IncludePublicKey", code);
}

int IncludeCRL(Engine& engine, const Options& options) {
  int32_t code = engine.IncludeCRL(options.operands[0]);
  return code == 0 ? kExitOk : Fail(engine, "IncludeCRL", code);
}

int UpdateCert(Engine& engine, const Options& options) {
  int32_t code = engine.UpdateCertificateCash(options.operands[0]);
  return code == 0 ? kExitOk : Fail(engine, "UpdateCertificateCash", code);
}

int RemoveCert(Engine& engine, const Options& options) {
  int32_t code = engine.RemoveCertificate(options.operands[0]);
  return code == 0 ? kExitOk : Fail(engine, "RemoveCertificate", code);
}

int ClearCache(Engine& engine, const Options&) {
  engine.ClearCash();
  return kExitOk;
}

const std::map<std::string, CommandSpec>& Commands() {
  static const std::map<std::string, CommandSpec> kCommands = {
      {"engines", {0, nullptr}},        {"params", {0, ShowParams}},
      {"uid", {0, ShowUID}},            {"sign", {1, Sign}},
      {"verify", {1, Verify}},          {"encrypt", {1, Encrypt}},
      {"decrypt", {1, Decrypt}},        {"encode-uid", {1, EncodeUID}},
      {"include-key", {1, IncludeKey}}, {"include-crl", {1, IncludeCRL}},
      {"update-cert", {1, UpdateCert}}, {"remove-cert", {1, RemoveCert}},
      {"clear-cache", {0, ClearCache}}, {"demo", {0, nullptr}},
      {"describe", {0, nullptr}},
  };
  return kCommands;
}

// Creates the engine, installs the callbacks, the root and the parameters, in that order.
int OpenEngine(const zkhost::ZkApi& api, const Options& options, std::unique_ptr<Engine>& engine) {
  if (options.engine.empty()) return Complain("--engine TYPE is required (zkmint engines lists them)", kExitUsage);
  std::vector<NamedValue> params;
  std::string error;
  if (!CollectParams(options, params, error)) return Complain(error, kExitUsage);
  engine = Engine::Create(api, options.engine);
  if (!engine) return Complain("the library builds no engine of type '" + options.engine + "'", kExitFailed);
  SetPasswordFile(options.passwordFile);
  engine->SetCallbacks(PasswordRequest, TouchMemoryRequest);
  if (!options.root.empty()) {
    // Absolute, so that %ZEXRoot% paths do not depend on the directory zkmint was started in.
    std::error_code ec;
    std::filesystem::path root = std::filesystem::absolute(options.root, ec);
    engine->SetRootPath(ec ? options.root : root.string());
  }
  for (const NamedValue& param : params) {
    int32_t index = engine->FindParam(param.first);
    if (index == 0)
      return Complain("engine '" + options.engine + "' has no parameter '" + param.first +
                          "' (zkmint params --engine TYPE lists them)",
                      kExitUsage);
    int32_t code = engine->SetParam(index, param.second);
    if (code != 0) return Fail(*engine, "SetCryptoParamValue '" + param.first + "'", code);
  }
  return kExitOk;
}

}  // namespace

bool CheckCommand(const Options& options, std::string& error) {
  auto found = Commands().find(options.command);
  if (found == Commands().end()) {
    error = "unknown command '" + options.command + "'";
    return false;
  }
  if (options.operands.size() != found->second.operands) {
    error = options.command + " takes " + std::to_string(found->second.operands) + " operand(s), got " +
            std::to_string(options.operands.size());
    return false;
  }
  return true;
}

int RunCommand(const zkhost::ZkApi& api, const Options& options) {
  try {
    const CommandSpec& spec = Commands().at(options.command);
    if (options.command == "describe") return Describe(api, options);
    if (!spec.handler) return ListEngines(api);
    std::unique_ptr<Engine> engine;
    int status = OpenEngine(api, options, engine);
    return status != kExitOk ? status : spec.handler(*engine, options);
  } catch (const HostError& error) {
    return Complain(error.what(), kExitFailed);
  } catch (const std::bad_alloc&) {
    // A file larger than the memory a 32-bit process can give it.
    return Complain("not enough memory for " + (options.operands.empty() ? options.command : options.operands[0]),
                    kExitFailed);
  }
}

}  // namespace zkmint
