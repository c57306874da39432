// Failures of the toolkit and of the disk. Through the stand-in's control entry every toolkit
// function an operation calls is failed once at each of its call positions: the operation must
// answer a code with a text (or, for a release call it may survive, a correct result), the next
// operation must succeed, and no key, certificate or CRL file may be lost or changed. Engines
// without a stand-in (OpenSSL over the real libcrypto) get on-disk faults: each file an
// operation reads is removed, then cut short, and restored.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>

#include "conformance/suite.h"
#include "platform/platform.h"
#include "support/standin.h"

namespace zk::suite {
namespace {

// One run of an operation: its result, and a check of its output made after the fault is cleared.
struct Outcome {
  int32_t code = -1;
  ZkEngine engine = nullptr;
  std::function<bool()> correct;
};

struct Operation {
  std::string name;
  std::string user;  // whose files the operation reads
  std::function<Outcome()> run;
};

class Faults : public Suite {
 protected:
  void SetUp() override {
    Suite::SetUp();
    if (HasFatalFailure()) return;
    alice_ = EngineFor("alice");
    bob_ = EngineFor("bob");
    signature_ = Sign(*alice_, data_).signature;
    envelope_ = Encode(*alice_, data_, Uid("bob").c_str()).data;
    if (caps_.keyManagement) strangerSignature_ = Sign(*EngineFor("stranger"), data_).signature;
    kept_ = Snapshot();
  }

  std::map<std::string, Bytes> Snapshot() const {
    std::map<std::string, Bytes> files;
    for (const std::string& path : provisioner_->KeptFiles()) files[path] = ReadFileBytes(path);
    return files;
  }
  void ExpectFilesWhole(const std::string& what) const {
    for (const auto& [path, bytes] : kept_) EXPECT_EQ(ReadFileBytes(path), bytes) << path << " after " << what;
  }

  // Fresh engines for every run, their caches cleared, so each run takes the same path.
  void Renew() {
    alice_ = EngineFor("alice");
    bob_ = EngineFor("bob");
    ClearCash(*alice_);
    ClearCash(*bob_);
  }

  std::vector<Operation> Operations() {
    std::vector<Operation> ops;
    if (caps_.signatures) {
      ops.push_back({"SignData", "alice", [this] {
                       const SignResult s = Sign(*alice_, data_);
                       return Outcome{s.code, *alice_, [this, s] { return Verify(*bob_, data_, s.signature).code == 0; }};
                     }});
      ops.push_back({"VerifyData", "bob", [this] {
                       const VerifyResult v = Verify(*bob_, data_, signature_);
                       return Outcome{v.code, *bob_, [this, v] { return v.signer == Uid("alice"); }};
                     }});
    }
    if (caps_.encryption) {
      ops.push_back({"EncodeData", "alice", [this] {
                       const CodecResult e = Encode(*alice_, data_, Uid("bob").c_str());
                       return Outcome{e.code, *alice_, [this, e] { return Decode(*bob_, e.data).data == data_; }};
                     }});
      ops.push_back({"DecodeData", "bob", [this] {
                       const CodecResult d = Decode(*bob_, envelope_);
                       return Outcome{d.code, *bob_, [this, d] { return d.data == data_; }};
                     }});
    }
    if (caps_.keyManagement) {
      ops.push_back({"IncludePublicKey", "alice", [this] {
                       const int32_t code = IncludePublicKey(*alice_, provisioner_->PublicKeyFile("stranger").c_str());
                       return Outcome{code, *alice_, [this] { return Verify(*alice_, data_, strangerSignature_).code == 0; }};
                     }});
    }
    return ops;
  }

  // After a faulted run: the operation works again at once, and nothing on disk was harmed.
  void ExpectRecovery(const Operation& op, const std::string& what) {
    const Outcome again = op.run();
    EXPECT_EQ(again.code, 0) << op.name << " after " << what << ": " << ErrorString(again.engine, again.code);
    if (again.code == 0) {
      EXPECT_TRUE(again.correct()) << op.name << " after " << what;
    }
    if (op.name == "IncludePublicKey") RemoveCertificate(*alice_, Uid("stranger").c_str());
    ExpectFilesWhole(op.name + " with " + what);
  }

  std::unique_ptr<Engine> alice_, bob_;
  const Bytes data_ = RandomBytes(100, 31);
  Bytes signature_, envelope_, strangerSignature_;
  std::map<std::string, Bytes> kept_;
};

TEST_P(Faults, EveryToolkitCallFailedOnceAtEachPosition) {
  if (caps_.toolkit.empty()) GTEST_SKIP() << "no stand-in toolkit";
  const StandInControl control(caps_.toolkit);
  const std::vector<std::string>& functions = StandInExports(caps_.toolkitFolder);
  ASSERT_FALSE(functions.empty()) << "no exports.txt for " << caps_.toolkitFolder;
  int trials = 0;
  for (const Operation& op : Operations()) {
    Renew();
    ASSERT_EQ(op.run().code, 0) << op.name;  // a steady state: process-wide caches filled
    if (op.name == "IncludePublicKey") RemoveCertificate(*alice_, Uid("stranger").c_str());
    Renew();
    control.Reset();
    ASSERT_EQ(op.run().code, 0) << op.name;
    std::map<std::string, int> calls;
    for (const std::string& f : functions) {
      if (const int n = control.Calls(f); n > 0) calls[f] = n;
    }
    if (op.name == "IncludePublicKey") RemoveCertificate(*alice_, Uid("stranger").c_str());
    // (An operation that calls no toolkit function, such as copying a public-key file, has
    // nothing to fail here.)
    for (const auto& [function, count] : calls) {
      for (int k = 1; k <= count; ++k) {
        const std::string what = function + " failing at call " + std::to_string(k);
        Renew();
        control.Reset();
        ASSERT_EQ(control.Send("fail " + function + " " + std::to_string(k) + " " + std::to_string(caps_.faultCode)), 0);
        const Outcome faulted = op.run();
        control.Reset();
        ++trials;
        if (faulted.code != 0) {
          ExpectExplained(faulted.engine, faulted.code, op.name + " with " + what);
        } else {
          const bool survivable = std::count(caps_.survivable.begin(), caps_.survivable.end(), function) > 0;
          EXPECT_TRUE(survivable) << op.name << " reported success with " << what;
          EXPECT_TRUE(faulted.correct()) << op.name << " gave a wrong result with " << what;
          if (op.name == "IncludePublicKey") RemoveCertificate(*alice_, Uid("stranger").c_str());
        }
        ExpectRecovery(op, what);
      }
    }
  }
  RecordProperty("trials", trials);
  std::printf("[ faults   ] %s: %d toolkit faults injected\n", GetParam().name.c_str(), trials);
}

TEST_P(Faults, FilesAnOperationReadsMissingOrCutShort) {
  if (!caps_.toolkit.empty()) GTEST_SKIP() << "faults come through the stand-in";
  int trials = 0;
  for (const Operation& op : Operations()) {
    if (op.name != "SignData" && op.name != "DecodeData") continue;  // the ones that need the user's own keys
    for (const std::string& path : provisioner_->UserFiles(op.user)) {
      const Bytes whole = ReadFileBytes(path);
      for (const char* fault : {"missing", "cut short"}) {
        if (std::string(fault) == "missing") {
          std::remove(path.c_str());
        } else {
          WriteFileBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));
        }
        Renew();
        const Outcome faulted = op.run();
        ExpectExplained(faulted.engine, faulted.code, op.name + " with " + path + " " + fault);
        WriteFileBytes(path, whole);
        Renew();
        ExpectRecovery(op, path + " " + fault);
        ++trials;
      }
    }
  }
  std::printf("[ faults   ] %s: %d on-disk faults injected\n", GetParam().name.c_str(), trials);
}

// The library's own file changes (create, move, remove) counted, and the k-th made to fail.
std::atomic<int> g_fileChanges{0};
std::atomic<int> g_failingChange{0};
bool CountAndFail(zk::platform::FileChange, const std::string&) { return ++g_fileChanges == g_failingChange; }

// A file change may fail at every position: the operation answers a code and leaves every file
// as it was, or (when only the tidying after the change failed) succeeds with its effect on disk,
// as a fresh engine sees it.
TEST_P(Faults, EveryFileChangeOfKeyManagementFailedOnceAtEachPosition) {
  if (!caps_.keyManagement) GTEST_SKIP() << "no key management";
  struct Change {
    const char* name;
    std::function<int32_t()> run, undo;
    std::function<bool(ZkEngine fresh)> effect;
  };
  const std::string strangerFile = provisioner_->PublicKeyFile("stranger");
  const std::string bobFile = provisioner_->PublicKeyFile("bob");
  auto knows = [this](ZkEngine e, const char* user) { return Encode(e, data_, Uid(user).c_str()).code == 0; };
  const Change changes[] = {
      {"IncludePublicKey", [&] { return IncludePublicKey(*alice_, strangerFile.c_str()); },
       [&] { return RemoveCertificate(*alice_, Uid("stranger").c_str()); },
       [&](ZkEngine e) { return knows(e, "stranger"); }},
      {"RemoveCertificate", [&] { return RemoveCertificate(*alice_, Uid("bob").c_str()); },
       [&] { return IncludePublicKey(*alice_, bobFile.c_str()); }, [&](ZkEngine e) { return !knows(e, "bob"); }},
      // A known key replaced by its own file again: the old one serves until the new one does.
      {"IncludePublicKey over a known key", [&] { return IncludePublicKey(*alice_, bobFile.c_str()); },
       [] { return 0; }, [&](ZkEngine e) { return knows(e, "bob"); }},
  };
  zk::platform::SetFileFaultHookForTesting(&CountAndFail);
  int trials = 0;
  for (const Change& change : changes) {
    g_failingChange = 0;
    g_fileChanges = 0;
    ASSERT_EQ(change.run(), 0) << change.name;
    const int count = g_fileChanges;
    ASSERT_EQ(change.undo(), 0) << change.name;
    for (int k = 1; k <= count; ++k) {
      kept_ = Snapshot();
      g_fileChanges = 0;
      g_failingChange = k;
      const int32_t code = change.run();
      g_failingChange = 0;
      const std::string what = std::string(change.name) + " with file change " + std::to_string(k) + " failing";
      auto fresh = EngineFor("alice");
      ClearCash(*fresh);
      if (code != 0) {
        ExpectExplained(*alice_, code, what);
        ExpectFilesWhole(what);
      } else {
        EXPECT_TRUE(change.effect(*fresh)) << what << " reported success without its effect";
      }
      EXPECT_TRUE(std::string(change.name) == "RemoveCertificate" || knows(*fresh, "bob")) << "bob's key lost: " << what;
      // Nothing is left half done: the change and its undoing work at once.
      if (code != 0) {
        EXPECT_EQ(change.run(), 0) << "after " << what;
      }
      EXPECT_EQ(change.undo(), 0) << "after " << what;
      ++trials;
    }
  }
  zk::platform::SetFileFaultHookForTesting(nullptr);
  std::printf("[ faults   ] %s: %d file-change faults injected\n", GetParam().name.c_str(), trials);
}

ZK_SUITE_INSTANTIATE(Faults);

}  // namespace
}  // namespace zk::suite
