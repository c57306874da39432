#include "conformance/suite.h"

namespace zk::suite {

void Suite::SetUp() {
  provisioner_ = GetParam().make();
  caps_ = provisioner_->Caps();
  dir_ = std::make_unique<TempDir>("zk_conf");
  ASSERT_NO_FATAL_FAILURE(provisioner_->Provision(dir_->Dir()));
}

std::unique_ptr<Engine> Suite::EngineFor(const std::string& user) const {
  auto engine = std::make_unique<Engine>(provisioner_->EngineType());
  if (engine->get() != nullptr) provisioner_->Configure(*engine, user);
  return engine;
}

std::vector<size_t> Suite::Lengths() const {
  const size_t block = static_cast<size_t>(caps_.blockSize);
  return {0, 1, block - 1, block, block + 1, 64 * 1024, 1024 * 1024};
}

std::string Suite::SeveralRecipients() const {
  return caps_.maxRecipients > 1 ? Uid("bob") + ";" + Uid("carol") : Uid("bob");
}

std::vector<std::string> Suite::Methods() const {
  return caps_.methods.empty() ? std::vector<std::string>{""} : caps_.methods;
}

void Suite::UseMethod(ZkEngine engine, const std::string& method) const {
  if (!method.empty()) ConfigureByName(engine, caps_.methodParam, method);
}

void Suite::ExpectExplained(ZkEngine engine, int32_t code, const std::string& what) const {
  EXPECT_NE(code, 0) << what;
  if (code != 0) {
    EXPECT_NE(ErrorString(engine, code), "") << what << ": code " << code << " has no text";
  }
}

std::string EngineName(const ::testing::TestParamInfo<ProvisionerEntry>& info) { return info.param.name; }

}  // namespace zk::suite
