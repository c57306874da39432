// The largest outputs an engine makes, in buffers sized exactly from its announced limits and
// ending at an inaccessible page: the most recipients, each with the longest UID and the largest
// key the engine accepts.
#include "conformance/suite.h"
#include "support/guard.h"

namespace zk::suite {
namespace {

using Bounds = Suite;

std::string Join(const std::vector<std::string>& uids) {
  std::string list;
  for (const std::string& uid : uids) list += (list.empty() ? "" : ";") + uid;
  return list;
}

TEST_P(Bounds, MostRecipientsWithTheLongestUids) {
  const std::vector<std::string> largest = provisioner_->AddLargestCorrespondents(caps_.maxRecipients - 1);
  auto alice = EngineFor("alice");
  auto bob = EngineFor("bob");
  const std::string recipients = Join(largest) + ";" + Uid("bob");
  for (size_t length : {caps_.encryptsEmptyData ? size_t{0} : size_t{1}, size_t{1000}}) {
    const Bytes data = RandomBytes(length, 11);
    const CodecResult e = Encode(*alice, data, recipients.c_str());
    ASSERT_EQ(e.code, 0) << ErrorString(*alice, e.code);
    const CodecResult d = Decode(*bob, e.data);
    ASSERT_EQ(d.code, 0) << ErrorString(*bob, d.code);
    EXPECT_EQ(d.data, data);
  }
  // One more than the most: refused, or still within the announced room.
  const std::vector<std::string> more = provisioner_->AddLargestCorrespondents(2);
  Encode(*alice, RandomBytes(100, 12), (recipients + ";" + Join(more)).c_str());
}

TEST_P(Bounds, UidsOfEveryLengthUpToTheLimitAsRecipients) {
  auto alice = EngineFor("alice");
  const size_t limit = static_cast<size_t>(GetMaxUIDLength(*alice));
  const Bytes data = RandomBytes(10, 13);
  // Unknown names of every length around the limit: a code, never a write past the room.
  for (size_t n : {limit - 2, limit - 1, limit, limit + 1, 4 * limit}) {
    const std::string name(n, 'U');
    const CodecResult e = Encode(*alice, data, name.c_str());
    if (caps_.encryption) ExpectExplained(*alice, e.code, "an unknown recipient of " + std::to_string(n));
    // Mapped to an encryption UID, or used as the signer's name: refused or within the room.
    GuardedBuffer out(limit, 0x7F);
    GetEncodeUIDBySignUID(*alice, name.c_str(), out.chars());
    Sign(*alice, data, name.c_str());
  }
}

ZK_SUITE_INSTANTIATE(Bounds);

}  // namespace
}  // namespace zk::suite
