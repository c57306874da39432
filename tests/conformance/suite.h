// The conformance suite's fixture: one instance per registered provisioner, a fresh sandbox per
// test, engines made through the exports and configured for a user.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"

namespace zk::suite {

inline void PrintTo(const ProvisionerEntry& entry, std::ostream* os) { *os << entry.name; }

class Suite : public ::testing::TestWithParam<ProvisionerEntry> {
 protected:
  void SetUp() override;

  // A fresh engine of the provisioner's type working as `user`.
  std::unique_ptr<Engine> EngineFor(const std::string& user) const;
  std::string Uid(const std::string& user) const { return provisioner_->Uid(user); }
  // Round-trip lengths: 0, 1, block-1, block, block+1, 64 KiB and 1 MiB.
  std::vector<size_t> Lengths() const;
  // Recipients bob and, when the engine takes several, carol: "uidB;uidC".
  std::string SeveralRecipients() const;
  // The envelope cipher settings to go through: each of Capabilities::methods, or the default.
  std::vector<std::string> Methods() const;
  // Sets a method from Methods() on an engine ("" keeps the default).
  void UseMethod(ZkEngine engine, const std::string& method) const;
  // The text of a failure: it must say something.
  void ExpectExplained(ZkEngine engine, int32_t code, const std::string& what) const;

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<Provisioner> provisioner_;
  Capabilities caps_;
};

std::string EngineName(const ::testing::TestParamInfo<ProvisionerEntry>& info);

}  // namespace zk::suite

// Runs a fixture derived from Suite (or Suite itself) over every registered engine.
#define ZK_SUITE_INSTANTIATE(Fixture)                                                                 \
  INSTANTIATE_TEST_SUITE_P(Engines, Fixture, ::testing::ValuesIn(::zk::suite::Provisioners()), \
                           ::zk::suite::EngineName)
