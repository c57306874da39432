// Whatever bytes arrive as a signature or an envelope, the engine answers with a code and a
// text: every prefix, every single-bit flip (a fixed sample of at least 2,000 positions for long
// inputs), random bytes, and fields that claim huge lengths or counts. The inputs are exact
// copies that end at an inaccessible page, and a failed DecodeData must leave the caller's
// buffer as it was (support/calls.cpp checks both).
#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "conformance/suite.h"

namespace zk::suite {
namespace {

constexpr size_t kFlipSample = 2000;
// An envelope the format does not authenticate may decode to other data when changed, so its
// flips only show that the decoder reads damaged structure safely: a smaller sample suffices.
constexpr size_t kUnauthenticatedFlipSample = 500;

// Bit positions to flip: all of them, or a fixed sample of `sample` for long inputs.
std::vector<size_t> FlipPositions(size_t bytes, size_t sample = kFlipSample) {
  std::vector<size_t> bits(bytes * 8);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = i;
  if (bits.size() <= sample) return bits;
  std::mt19937 generator(static_cast<uint32_t>(bytes));
  std::shuffle(bits.begin(), bits.end(), generator);
  bits.resize(sample);
  std::sort(bits.begin(), bits.end());
  return bits;
}

Bytes Flipped(const Bytes& in, size_t bit) {
  Bytes out = in;
  out[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
  return out;
}

class BadInput : public Suite {
 protected:
  void SetUp() override {
    Suite::SetUp();
    alice_ = EngineFor("alice");
    bob_ = EngineFor("bob");
  }
  void TearDown() override {
    std::printf("[ bad input] %s: %d inputs\n", GetParam().name.c_str(), inputs_);
  }
  // Refused with a code that has a text; each distinct code's text is asked for once.
  void Refused(ZkEngine engine, int32_t code, const std::string& what) {
    ++inputs_;
    if (code == 0 || explained_.insert(code).second) ExpectExplained(engine, code, what);
  }
  Bytes SignedByAlice(const Bytes& data) {
    const SignResult s = Sign(*alice_, data);
    EXPECT_EQ(s.code, 0) << ErrorString(*alice_, s.code);
    return s.signature;
  }
  // A changed envelope is refused, or (in a field the format leaves unauthenticated, such as a
  // sender's name nobody reads) still gives exactly the plain text: never other data.
  void RefusedOrIntact(const Bytes& envelope, const std::string& what) {
    const CodecResult d = Decode(*bob_, envelope);
    if (d.code == 0) {
      ++inputs_;
      EXPECT_EQ(d.data, data_) << what << " gave other data";
    } else {
      Refused(*bob_, d.code, what);
    }
  }
  Bytes SealedForBob(const Bytes& data) {
    const CodecResult e = Encode(*alice_, data, Uid("bob").c_str());
    EXPECT_EQ(e.code, 0) << ErrorString(*alice_, e.code);
    return e.data;
  }

  std::unique_ptr<Engine> alice_, bob_;
  std::set<int32_t> explained_;
  int inputs_ = 0;
  const Bytes data_ = RandomBytes(40, 21);
};

TEST_P(BadInput, EveryPrefixAndBitFlipOfASignature) {
  if (!caps_.signatures) GTEST_SKIP() << "signatures are not checked";
  const Bytes signature = SignedByAlice(data_);
  ASSERT_FALSE(signature.empty());
  for (size_t n = 0; n < signature.size(); ++n) {
    const Bytes prefix(signature.begin(), signature.begin() + static_cast<std::ptrdiff_t>(n));
    const int32_t code = Verify(*bob_, data_, prefix).code;
    Refused(*bob_, code, "prefix of " + std::to_string(n));
    if (caps_.truncatedSignatureCode) {
      EXPECT_TRUE(caps_.truncatedSignatureCode(code)) << "prefix of " << n << ": " << code;
    }
  }
  for (size_t bit : FlipPositions(signature.size())) {
    Refused(*bob_, Verify(*bob_, data_, Flipped(signature, bit)).code, "bit " + std::to_string(bit));
  }
  // Bytes after a valid signature: refused, or (where the format reads a fixed length) ignored,
  // with alice still the signer.
  for (size_t extra : {1, 10}) {
    Bytes longer = signature;
    longer.insert(longer.end(), extra, 0);
    const VerifyResult v = Verify(*bob_, data_, longer);
    if (v.code == 0) {
      EXPECT_EQ(v.signer, Uid("alice")) << extra << " bytes appended";
    } else {
      Refused(*bob_, v.code, std::to_string(extra) + " bytes appended");
    }
  }
  EXPECT_EQ(Verify(*bob_, data_, signature).code, 0);
}

// With every cipher, for two recipients (bob's entry second, so the walk passes carol's), read
// by bob.
TEST_P(BadInput, EveryPrefixAndBitFlipOfAnEnvelope) {
  if (!caps_.encryption) GTEST_SKIP() << "envelopes are not checked";
  const std::string recipients = caps_.maxRecipients > 1 ? Uid("carol") + ";" + Uid("bob") : Uid("bob");
  for (const std::string& method : Methods()) {
    UseMethod(*alice_, method);
    const CodecResult sealed = Encode(*alice_, data_, recipients.c_str());
    ASSERT_EQ(sealed.code, 0) << method << ": " << ErrorString(*alice_, sealed.code);
    const Bytes& envelope = sealed.data;
    for (size_t n = 0; n < envelope.size(); ++n) {
      const Bytes prefix(envelope.begin(), envelope.begin() + static_cast<std::ptrdiff_t>(n));
      const int32_t code = Decode(*bob_, prefix).code;
      Refused(*bob_, code, method + " prefix of " + std::to_string(n));
      if (caps_.truncatedEnvelopeCode) {
        EXPECT_TRUE(caps_.truncatedEnvelopeCode(code)) << method << " prefix of " << n << ": " << code;
      }
    }
    const size_t sample = caps_.authenticatedEnvelope ? kFlipSample : kUnauthenticatedFlipSample;
    for (size_t bit : FlipPositions(envelope.size(), sample)) {
      if (caps_.authenticatedEnvelope) {
        RefusedOrIntact(Flipped(envelope, bit), method + " bit " + std::to_string(bit));
      } else {
        ++inputs_;
        Decode(*bob_, Flipped(envelope, bit));  // any answer but a fault; a refusal leaves the buffer
      }
    }
    EXPECT_EQ(Decode(*bob_, envelope).data, data_) << method;
  }
}

TEST_P(BadInput, RandomBytesAreNeitherSignaturesNorEnvelopes) {
  for (uint32_t seed = 0; seed < 200; ++seed) {
    const Bytes noise = RandomBytes(seed * 7 % 600, seed);
    if (caps_.signatures) Refused(*bob_, Verify(*bob_, data_, noise).code, "noise " + std::to_string(seed));
    if (caps_.encryption) Refused(*bob_, Decode(*bob_, noise).code, "noise " + std::to_string(seed));
  }
}

// Every aligned 32-bit field of the first 96 bytes set to a huge length or count in turn, and
// lengths passed by the caller that do not match the buffer.
TEST_P(BadInput, HugeClaimedLengthsAndCounts) {
  const uint32_t kHuge[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x00100000u};
  if (caps_.signatures) {
    const Bytes signature = SignedByAlice(data_);
    for (size_t at = 0; at + 4 <= std::min<size_t>(signature.size(), 96); at += 4) {
      for (uint32_t huge : kHuge) {
        Bytes changed = signature;
        SetLe32(changed, at, huge);
        if (changed != signature) Refused(*bob_, Verify(*bob_, data_, changed).code, "field at " + std::to_string(at));
      }
    }
    // Signature and data lengths below zero.
    char signer[300];
    Refused(*bob_, VerifyData(*bob_, data_.data(), static_cast<int32_t>(data_.size()), signature.data(), -1, signer),
            "a negative signature length");
    Refused(*bob_, VerifyData(*bob_, data_.data(), -1, signature.data(), static_cast<int32_t>(signature.size()), signer),
            "a negative data length");
  }
  if (caps_.encryption) {
    const Bytes envelope = SealedForBob(data_);
    for (size_t at = 0; at + 4 <= std::min<size_t>(envelope.size(), 96); at += 4) {
      for (uint32_t huge : kHuge) {
        Bytes changed = envelope;
        SetLe32(changed, at, huge);
        if (caps_.authenticatedEnvelope) {
          RefusedOrIntact(changed, "field at " + std::to_string(at));
        } else {
          Decode(*bob_, changed);  // any answer but a fault
        }
      }
    }
    // A negative length is refused and left as it was.
    Bytes copy = envelope;
    int32_t length = -1;
    char sender[300];
    Refused(*bob_, DecodeData(*bob_, copy.data(), &length, sender), "a negative length");
    EXPECT_EQ(length, -1);
    EXPECT_EQ(copy, envelope);
    length = -5;
    Refused(*alice_, EncodeData(*alice_, copy.data(), &length, Uid("bob").c_str()), "a negative length");
    EXPECT_EQ(copy, envelope);
  }
}

ZK_SUITE_INSTANTIATE(BadInput);

}  // namespace
}  // namespace zk::suite
