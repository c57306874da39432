// The Verba-OW engine over the stand-in wbotho.dll: each user has a key set on a device directory
// and a public-key directory of its own; alice, bob and carol have each other's keys (and their
// own) in theirs, entered through the toolkit with their own keys loaded, as the engine would.
// The suite runs once per key-file generation of the toolkit (a copy of the program beside each
// build, ZK_SUITE_WBOTHO_GENERATION naming the one expected); generation 6 takes both public-key
// file forms, so its users alternate between them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engines/verbaow/verba_dll.h"
#include "engines/verbaow/wbotho_api.h"
#include "platform/platform.h"
#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

class VerbaOWProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "Verba-OW/4"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 4;  // what the default addition of 255 bytes holds
    caps.sender = zk::suite::SenderReport::kUid;
    caps.signsEmptyData = false;
    caps.encryptsEmptyData = false;  // -2 for data of length 0
    caps.keyManagement = true;
    caps.toolkit = "wbotho.dll";
    caps.toolkitFolder = "wbotho";
    caps.faultCode = 2;
    // Closing a service and releasing a result block: their answers change nothing.
    caps.survivable = {"SignDone", "CryptoDone", "FreeMemory"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    ASSERT_NO_FATAL_FAILURE(CheckGeneration());
    // The driver is the process's: no key set of an earlier sandbox under the same identifier.
    Toolkit().Reset();
    for (const auto& entry : numbers_) AddUser(entry.first);
    const std::vector<std::string> circle = {"alice", "bob", "carol"};
    for (const std::string& owner : circle) Enter(owner, circle);
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "Path to secret", Dir(user, "secret"));
    zk::suite::ConfigureByName(engine, "Path to public", Dir(user, "public"));
    zk::suite::ConfigureByName(engine, "Encode UID", EncodeId(user));
    zk::suite::ConfigureByName(engine, "Sign UID", Uid(user));
    zk::suite::ConfigureByName(engine, "Key device", Dir(user, "device"));
  }

  // The signature key identifier: what GetCurrentUserUID, VerifyData and DecodeData report; its
  // first four characters, the key number, address a recipient.
  std::string Uid(const std::string& user) const override { return EncodeId(user) + "01"; }

  // Identifiers have one length; the largest are simply more correspondents.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids, added;
    for (int i = 0; i < count; ++i) {
      const std::string user = "big" + std::to_string(i);
      numbers_[user] = 100 + i;
      AddUser(user);
      added.push_back(user);
      uids.push_back(Uid(user));
    }
    for (const char* owner : {"alice", "bob", "carol"}) Enter(owner, added);
    return uids;
  }

  std::string PublicKeyFile(const std::string& user) const override { return Dir(user, "self.pk"); }
  std::vector<std::string> UserFiles(const std::string& user) const override {
    return {(fs::path(Dir(user, "device")) / (EncodeId(user) + ".vks")).string()};
  }

 private:
  // The generation the engine reads from the toolkit's file version, and the one the run expects.
  void CheckGeneration() {
    const zk::verbaow::TVerbaODLL binding;  // loads the toolkit as the engines do
    ASSERT_TRUE(binding.LibLoaded);
    generation_ = zk::verbaow::TVerbaODLL::Generation();
    std::string expected;
    if (zk::platform::GetEnv("ZK_SUITE_WBOTHO_GENERATION", expected)) {
      ASSERT_EQ(std::to_string(generation_), expected) << "wrong wbotho.dll beside the program";
    }
  }
  // The public-key file form of a user's key set: the build's own, or alternating in generation 6.
  int KeyFileFormat(const std::string& user) const {
    if (generation_ < 6) return 0;
    return numbers_.at(user) % 2 == 1 ? 4 : 5;
  }

  std::string EncodeId(const std::string& user) const {
    char id[16];
    std::snprintf(id, sizeof id, "%04d000777", numbers_.at(user));
    return id;
  }
  std::string Dir(const std::string& user, const std::string& name) const {
    return (fs::path(root_) / user / name).string();
  }

  static const zk::suite::StandInControl& Toolkit() {
    static const zk::suite::StandInControl toolkit("wbotho.dll");
    return toolkit;
  }
  template <typename Fn>
  static Fn Function(const char* name) {
    return reinterpret_cast<Fn>(Toolkit().Symbol(name));
  }

  void AddUser(const std::string& user) {
    using MakeKeySet = int (*)(const char*, const char*, const char*, const char*, int);
    const auto make = Function<MakeKeySet>("VOW_StandIn_MakeKeySet");
    ASSERT_NE(make, nullptr);
    for (const char* sub : {"device", "secret", "public"}) fs::create_directories(Dir(user, sub));
    ASSERT_EQ(make(Dir(user, "device").c_str(), EncodeId(user).c_str(), Uid(user).c_str(),
                   Dir(user, "self.pk").c_str(), KeyFileFormat(user)),
              0)
        << user;
  }

  // The owner's key set in the driver while its directory takes the others' keys.
  void Enter(const std::string& owner, const std::vector<std::string>& users) {
    const auto initKey = Function<decltype(&::InitKey)>("InitKey");
    const auto addOpenKey = Function<decltype(&::AddOpenKey)>("AddOpenKey");
    const auto resetKey = Function<decltype(&::ResetKeyEx)>("ResetKeyEx");
    ASSERT_TRUE(initKey && addOpenKey && resetKey);
    resetKey(EncodeId(owner).c_str(), 1);  // an engine may have it loaded: load it afresh
    ASSERT_EQ(initKey(Dir(owner, "device").c_str(), ""), 0) << owner;
    for (const std::string& user : users) {
      const zk::suite::Bytes key = zk::suite::ReadFileBytes(PublicKeyFile(user));
      EXPECT_EQ(addOpenKey(Dir(owner, "public").c_str(), key.data(), Uid(owner).c_str(), "S"), 0) << owner << user;
    }
    ASSERT_EQ(resetKey(EncodeId(owner).c_str(), 1), 0);
  }

  int generation_ = 4;
  std::map<std::string, int> numbers_ = {{"alice", 1}, {"bob", 2}, {"carol", 3}, {"stranger", 4}};
};

}  // namespace

ZK_SUITE_PROVISIONER(VerbaOW, VerbaOWProvisioner);
