// libFuzzer target over one engine's decoder that takes outside bytes, through the exports, with
// the engine provisioned by its conformance-suite provisioner. Compiled once and linked into one
// program per engine and operation, each naming its provisioner (kFuzzEngine) and its operation
// (kFuzzOp, an index into Op below) in a generated two-line source.
//
// At start-up, the valid outputs of this run's keys are written into the first corpus directory
// given on the command line, so every run starts from inputs that decode or verify (the build's
// seed step runs each target once for that alone, with -runs=0).
//
// Every input runs through the exported DecodeData or VerifyData of one engine kept for the whole
// run. What each input would otherwise pay again is kept too: the caller's buffers are mapped once
// (each input still ends at an inaccessible page), the engine keeps its keys as a default engine
// does, and the stand-ins answer a repeated key agreement (ZK_GOST_MEMO) or RSA private-key
// operation or signature check (ZK_STANDIN_MEMO) from memory, by the exact bytes asked about.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/calls.h"
#include "support/guard.h"
#include "support/provisioner.h"

extern const char* const kFuzzEngine;
extern const int kFuzzOp;

namespace {

namespace fs = std::filesystem;
using namespace zk::suite;

enum class Op { kDecode, kVerify, kIncludePublicKey, kIncludeCRL, kUserFile };

const Op kOp = static_cast<Op>(kFuzzOp);
const Bytes kSignedData = Text("zk_mint fuzzing: the data under every signature");

// Parameters the provisioners set for the tests' sake that the decoder targets put back to the
// engine's default: the tests read key files with every operation, so that changes on disk show
// at once; a default engine keeps its keys, and so the fuzzer's time goes to the decoder.
const char* const kDefaultedParams[] = {"Key request time out"};

// A caller's buffer mapped once and reused: each input is placed so that it ends at the guard.
class InputArea {
 public:
  uint8_t* Place(const uint8_t* data, size_t size) {
    if (!area_ || area_->size() < size) area_ = std::make_unique<GuardedBuffer>(std::max<size_t>(size * 2, 1 << 16));
    uint8_t* at = area_->data() + area_->size() - size;
    if (size > 0) std::memcpy(at, data, size);
    return at;
  }

 private:
  std::unique_ptr<GuardedBuffer> area_;
};

// An output buffer of the engine's announced size, refilled before each call.
class OutputArea {
 public:
  char* Fresh(int32_t announced) {
    const size_t size = announced > 0 ? static_cast<size_t>(announced) : 0;
    if (!area_ || area_->size() != size) area_ = std::make_unique<GuardedBuffer>(size);
    std::memset(area_->data(), 0x7F, size);
    return area_->chars();
  }

 private:
  std::unique_ptr<GuardedBuffer> area_;
};

struct State {
  std::unique_ptr<TempDir> dir;
  std::unique_ptr<Provisioner> provisioner;
  std::unique_ptr<Engine> bob;
  std::string scratch;  // the file IncludePublicKey and IncludeCRL read
  std::vector<std::string> userFiles;
  std::vector<Bytes> userFileImages;
  InputArea input;
  InputArea signedData;
  OutputArea uid;
};

State& S() {
  static State state;
  return state;
}

std::unique_ptr<Provisioner> Find(const std::string& name) {
  for (const ProvisionerEntry& entry : Provisioners()) {
    if (entry.name == name) return entry.make();
  }
  std::fprintf(stderr, "no provisioner %s\n", name.c_str());
  std::abort();
}

void AddEncoded(std::vector<Bytes>& inputs, const CodecResult& encoded) {
  if (encoded.code == 0) inputs.push_back(encoded.data);
}

std::vector<Bytes> ValidInputs(Provisioner& p, ZkEngine alice) {
  std::vector<Bytes> inputs;
  const Capabilities caps = p.Caps();
  switch (kOp) {
    case Op::kDecode:
      // Only what encodes: some engines refuse empty data.
      for (size_t length : {size_t{0}, size_t{1}, size_t{33}, size_t{300}}) {
        AddEncoded(inputs, Encode(alice, RandomBytes(length, 1), p.Uid("bob").c_str()));
        if (caps.maxRecipients > 1) {
          AddEncoded(inputs, Encode(alice, RandomBytes(length, 2), (p.Uid("carol") + ";" + p.Uid("bob")).c_str()));
        }
      }
      break;
    case Op::kVerify:
      inputs.push_back(Sign(alice, kSignedData).signature);
      break;
    case Op::kIncludePublicKey:
      inputs.push_back(ReadFileBytes(p.PublicKeyFile("stranger")));
      break;
    case Op::kIncludeCRL:
      inputs.push_back(ReadFileBytes(p.CrlFile()));
      break;
    case Op::kUserFile:
      for (size_t i = 0; i < S().userFiles.size(); ++i) {
        Bytes input = {static_cast<uint8_t>(i)};
        const Bytes& image = S().userFileImages[i];
        input.insert(input.end(), image.begin(), image.end());
        inputs.push_back(input);
      }
      break;
  }
  return inputs;
}

void WriteSeeds(const std::vector<Bytes>& inputs, const std::string& dir) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    WriteFileBytes((fs::path(dir) / ("valid_" + std::to_string(i))).string(), inputs[i]);
  }
}

// Whether the engine has the operation at all (the emulation engine decodes nothing, say).
bool Applies(const Provisioner& p) {
  const Capabilities caps = p.Caps();
  switch (kOp) {
    case Op::kDecode: return caps.encryption;
    case Op::kVerify: return caps.signatures;
    case Op::kIncludePublicKey: return caps.keyManagement;
    case Op::kIncludeCRL: return caps.crls;
    case Op::kUserFile: return !p.UserFiles("bob").empty();
  }
  return false;
}

void RestoreDefaults(const std::string& type, ZkEngine engine) {
  Engine fresh(type);
  const int32_t count = GetCryptoParamNumber(engine);
  std::vector<char> name(static_cast<size_t>(std::max(GetMaxCryptoParamNameLength(engine), 0)) + 1);
  std::vector<char> value(static_cast<size_t>(std::max(GetMaxCryptoParamValueLength(fresh), 0)) + 1);
  for (int32_t i = 1; i <= count; ++i) {
    GetCryptoParamName(engine, i, name.data());
    for (const char* wanted : kDefaultedParams) {
      if (std::strcmp(name.data(), wanted) != 0) continue;
      GetCryptoParamValue(fresh, i, value.data());
      Configure(engine, i, value.data());
    }
  }
}

// The provisioned files as if written a minute ago: readers that keep a file only once it has
// stood unchanged for a few seconds (writes within one second of each other show the same time)
// then keep it from the first input on, as they would in a client that has run for a while.
void Settle(const std::string& dir) {
  std::error_code ignored;
  const auto past = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  for (const auto& entry : fs::recursive_directory_iterator(dir, ignored)) {
    if (entry.is_regular_file(ignored)) fs::last_write_time(entry.path(), past, ignored);
  }
}

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// DecodeData in place; a failure must leave the caller's buffer and length as they were.
void DecodeOne(const uint8_t* data, size_t size) {
  State& s = S();
  uint8_t* buffer = s.input.Place(data, size);
  int32_t length = static_cast<int32_t>(size);
  const int32_t code = DecodeData(*s.bob, buffer, &length, s.uid.Fresh(GetMaxUIDLength(*s.bob)));
  if (code != 0) {
    if (length != static_cast<int32_t>(size) || (size > 0 && std::memcmp(buffer, data, size) != 0))
      Broken("a failed DecodeData changed the caller's buffer or length");
  } else if (length < 0 || static_cast<size_t>(length) > size) {
    Broken("DecodeData reported a length outside the caller's buffer");
  }
}

void VerifyOne(const uint8_t* data, size_t size) {
  State& s = S();
  const uint8_t* signedData = s.signedData.Place(kSignedData.data(), kSignedData.size());
  const uint8_t* signature = s.input.Place(data, size);
  VerifyData(*s.bob, signedData, static_cast<int32_t>(kSignedData.size()), signature, static_cast<int32_t>(size),
             s.uid.Fresh(GetMaxUIDLength(*s.bob)));
  // VerifyData takes the data as constant.
  if (std::memcmp(signedData, kSignedData.data(), kSignedData.size()) != 0) Broken("VerifyData changed the signed data");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  State& s = S();
  setenv("ZK_GOST_MEMO", "1", 0);
  setenv("ZK_STANDIN_MEMO", "1", 0);
  // The stand-ins' RSA keys at 1024 bits: a new wrapped key in a fuzzed envelope then costs a
  // fraction of a 2048-bit private-key operation. Tests, benchmarks and the demo keep 2048.
  setenv("ZK_STANDIN_RSA_BITS", "1024", 0);
  s.provisioner = Find(kFuzzEngine);
  s.dir = std::make_unique<TempDir>("zk_fuzz");
  s.provisioner->Provision(s.dir->Dir());
  if (!Applies(*s.provisioner)) {
    std::printf("not applicable: the engine has no such operation\n");
    s = State();
    std::exit(0);
  }
  s.bob = std::make_unique<Engine>(s.provisioner->EngineType());
  s.provisioner->Configure(*s.bob, "bob");
  if (kOp == Op::kDecode || kOp == Op::kVerify) RestoreDefaults(s.provisioner->EngineType(), *s.bob);
  s.scratch = (fs::path(s.dir->Dir()) / "fuzzed.input").string();
  s.userFiles = s.provisioner->UserFiles("bob");
  for (const std::string& file : s.userFiles) s.userFileImages.push_back(ReadFileBytes(file));
  Engine alice(s.provisioner->EngineType());
  s.provisioner->Configure(alice, "alice");
  const std::vector<Bytes> inputs = ValidInputs(*s.provisioner, alice);
  Settle(s.dir->Dir());
  for (int i = 1; i < *argc; ++i) {
    const char* arg = (*argv)[i];
    if (arg[0] != '-' && fs::is_directory(arg)) {
      WriteSeeds(inputs, arg);
      break;
    }
  }
  // The engines go before the library's process-wide objects, which were made after this state
  // and would otherwise be destroyed first at exit; one round of bob's operations first makes
  // every such object that fuzzing would otherwise make later.
  Decode(*s.bob, inputs.empty() ? Bytes() : inputs.front());
  Sign(*s.bob, kSignedData);
  CurrentUID(*s.bob);
  ClearCash(*s.bob);
  // What is kept across inputs must not make valid inputs fail: then every input would fail early.
  for (const Bytes& input : inputs) {
    if (kOp == Op::kDecode && Decode(*s.bob, input).code != 0) Broken("a valid envelope does not decode");
    if (kOp == Op::kVerify && Verify(*s.bob, kSignedData, input).code != 0) Broken("a valid signature does not verify");
  }
  std::atexit([] {
    S().bob.reset();
    S().provisioner.reset();
  });
  // Provisioning (key generation) costs about a CPU second: scripts/fuzz.sh takes it off the run's
  // CPU time, so that short runs give the fuzzing loop's own rate too.
  std::printf("start-up cpu seconds: %.2f\n", static_cast<double>(std::clock()) / CLOCKS_PER_SEC);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  State& s = S();
  switch (kOp) {
    case Op::kDecode:
      DecodeOne(data, size);
      break;
    case Op::kVerify:
      VerifyOne(data, size);
      break;
    case Op::kIncludePublicKey:
      WriteFileBytes(s.scratch, Bytes(data, data + size));
      if (IncludePublicKey(*s.bob, s.scratch.c_str()) == 0) RemoveCertificate(*s.bob, s.provisioner->Uid("stranger").c_str());
      break;
    case Op::kIncludeCRL:
      WriteFileBytes(s.scratch, Bytes(data, data + size));
      IncludeCRL(*s.bob, s.scratch.c_str());
      break;
    case Op::kUserFile: {
      if (size == 0 || s.userFiles.empty()) return 0;
      const size_t which = data[0] % s.userFiles.size();
      WriteFileBytes(s.userFiles[which], Bytes(data + 1, data + size));
      ClearCash(*s.bob);
      Sign(*s.bob, kSignedData);
      CurrentUID(*s.bob);
      WriteFileBytes(s.userFiles[which], s.userFileImages[which]);
      break;
    }
  }
  return 0;
}
