// The public-key file parser at its limits: the text block, the key and signature lengths, and the
// total that must end exactly at the signature.
#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_pubkey.h"

namespace ccomtest {
namespace {

using namespace zk::ccom3x;

// A file image with the given parts; the signature bytes are arbitrary (the parser does not check it).
Bytes Image(const std::string& text, uint32_t keyLen, uint32_t sigLen, int totalDelta = 0) {
  Bytes file;
  const uint32_t total = static_cast<uint32_t>(8 + text.size() + 8 + keyLen + 4 + sigLen);
  PutLe32(file, static_cast<uint32_t>(static_cast<int64_t>(total) + totalDelta));
  PutLe32(file, static_cast<uint32_t>(text.size()));
  file.insert(file.end(), text.begin(), text.end());
  PutLe32(file, 1);
  PutLe32(file, keyLen);
  file.insert(file.end(), keyLen, 0x04);
  PutLe32(file, sigLen);
  file.insert(file.end(), sigLen, 0x5A);
  return file;
}

std::string Block(const std::string& uid, const std::string& description) {
  return "\r\n" + uid + "\r\n" + description + "\r\n";
}

int32_t Parse(const Bytes& image, TCCom3x_CashNode* out = nullptr) {
  TCCom3x_CashNode node;
  const int32_t code = ParsePublicKeyImage(image.data(), image.size(), node);
  if (out != nullptr) *out = node;
  return code;
}

TEST(CcomPublicKeyFile, LimitsOfTheTextBlock) {
  TCCom3x_CashNode node;
  ASSERT_EQ(Parse(Image(Block(std::string(254, 'u'), std::string(734, 'd')), 65, 64), &node), kOk);
  EXPECT_EQ(node.UID.size(), 254u);
  EXPECT_EQ(node.Description.size(), 734u);
  EXPECT_EQ(Image(Block(std::string(254, 'u'), std::string(734, 'd')), 65, 64).size(), kMaxPublicKeyFileSize);
  EXPECT_EQ(Parse(Image(Block(std::string(255, 'u'), ""), 65, 64)), kErrBadPublicKeyFile);
  EXPECT_EQ(Parse(Image(Block("u", std::string(735, 'd')), 65, 64)), kErrBadPublicKeyFile);
  ASSERT_EQ(Parse(Image(Block("uid", ""), 65, 64), &node), kOk);
  EXPECT_EQ(node.UID, "uid");
  EXPECT_EQ(node.Description, "");
  ASSERT_EQ(Parse(Image(Block("uid", "two\r\nlines"), 65, 64), &node), kOk);
  EXPECT_EQ(node.Description, "two\r\nlines");
  EXPECT_EQ(Parse(Image(Block("", "d"), 65, 64)), kErrBadPublicKeyFile) << "empty UID";
  EXPECT_EQ(Parse(Image("\r\nuid\r\n", 65, 64)), kErrBadPublicKeyFile) << "no description line";
  EXPECT_EQ(Parse(Image("uid\r\nd\r\n", 65, 64)), kErrBadPublicKeyFile) << "no leading line break";
  EXPECT_EQ(Parse(Image("\r\nuid\r\nd", 65, 64)), kErrBadPublicKeyFile) << "no closing line break";
  EXPECT_EQ(Parse(Image(Block(std::string("u\0d", 3), "d"), 65, 64)), kErrBadPublicKeyFile) << "a zero in the UID";
}

TEST(CcomPublicKeyFile, LengthsMustAddUp) {
  const std::string text = Block("uid", "desc");
  EXPECT_EQ(Parse(Image(text, 65, 64)), kOk);
  EXPECT_EQ(Parse(Image(text, 33, 64)), kOk) << "shorter keys parse; they just never match or verify";
  EXPECT_EQ(Parse(Image(text, 66, 64)), kErrBadPublicKeyFile);
  EXPECT_EQ(Parse(Image(text, 65, 65)), kErrBadPublicKeyFile);
  EXPECT_EQ(Parse(Image(text, 65, 64, 1)), kErrBadPublicKeyFile);
  EXPECT_EQ(Parse(Image(text, 65, 64, -1)), kErrBadPublicKeyFile);
  Bytes longer = Image(text, 65, 64);
  longer.push_back(0);
  EXPECT_EQ(Parse(longer), kErrBadPublicKeyFile) << "bytes after the signature";
  Bytes wrongT = Image(text, 65, 64);
  wrongT[4] = 0xFF;
  wrongT[5] = 0xFF;
  wrongT[6] = 0xFF;
  wrongT[7] = 0xFF;
  EXPECT_EQ(Parse(wrongT), kErrBadPublicKeyFile);
  EXPECT_EQ(Parse(Bytes()), kErrBadPublicKeyFile);
}

}  // namespace
}  // namespace ccomtest
