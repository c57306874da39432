// zkmint's command line, its parameter files and the password callback's copy rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "callbacks.h"
#include "options.h"

namespace {

using zkmint::NamedValue;
using zkmint::Options;

bool Parse(std::vector<const char*> args, Options& options, std::string& error) {
  args.insert(args.begin(), "zkmint");
  return zkmint::ParseArguments(static_cast<int>(args.size()), args.data(), options, error);
}

std::string WriteTemp(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(ParseArguments, KeepsParamsInOrderAndSplitsAtTheFirstEquals) {
  Options options;
  std::string error;
  ASSERT_TRUE(Parse({"sign", "--param", "A=1", "doc.txt", "--param", "B=x=y", "--param", "A=", "--engine", "OpenSSL"},
                    options, error))
      << error;
  EXPECT_EQ(options.command, "sign");
  EXPECT_EQ(options.operands, std::vector<std::string>{"doc.txt"});
  EXPECT_EQ(options.engine, "OpenSSL");
  std::vector<NamedValue> expected = {{"A", "1"}, {"B", "x=y"}, {"A", ""}};
  EXPECT_EQ(options.params, expected);
}

TEST(ParseArguments, RejectsMissingValuesUnknownOptionsAndNamelessParams) {
  const std::vector<std::vector<const char*>> bad = {
      {"sign", "doc", "--engine"}, {"sign", "--colour", "red"}, {"params", "--param", "=v"}, {"params", "--param", "novalue"}};
  for (const auto& args : bad) {
    Options options;
    std::string error;
    EXPECT_FALSE(Parse(args, options, error)) << args[1];
    EXPECT_FALSE(error.empty());
  }
}

TEST(ParseArguments, ValueThatLooksLikeAnOptionIsTakenAsTheValue) {
  Options options;
  std::string error;
  ASSERT_TRUE(Parse({"encrypt", "--out", "--keep", "f"}, options, error));
  EXPECT_EQ(options.out, "--keep");
  EXPECT_FALSE(options.keep);
}

TEST(ParseParamText, SkipsCommentsAndBlankLinesAcceptsCrLfAndNamesTheBadLine) {
  std::vector<NamedValue> params;
  std::string error;
  ASSERT_TRUE(zkmint::ParseParamText("# keys\r\n\r\nHash Method=MD5\r\nRND file=%ZEXRoot%\\@rand\n", params, error));
  std::vector<NamedValue> expected = {{"Hash Method", "MD5"}, {"RND file", "%ZEXRoot%\\@rand"}};
  EXPECT_EQ(params, expected);

  params.clear();
  EXPECT_FALSE(zkmint::ParseParamText("A=1\n\nno equals sign\n", params, error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

TEST(CollectParams, FilesComeFirstSoTheCommandLineOverrides) {
  std::string first = WriteTemp("zkmint_params_1.txt", "A=file1\nB=file1\n");
  std::string second = WriteTemp("zkmint_params_2.txt", "B=file2\n");
  Options options;
  std::string error;
  ASSERT_TRUE(Parse({"params", "--param", "A=cli", "--param-file", first.c_str(), "--param-file", second.c_str()},
                    options, error));
  std::vector<NamedValue> params;
  ASSERT_TRUE(zkmint::CollectParams(options, params, error)) << error;
  std::vector<NamedValue> expected = {{"A", "file1"}, {"B", "file1"}, {"B", "file2"}, {"A", "cli"}};
  EXPECT_EQ(params, expected);

  options.paramFiles.push_back(::testing::TempDir() + "zkmint_no_such_file.txt");
  EXPECT_FALSE(zkmint::CollectParams(options, params, error));
}

TEST(CopyPassword, CopiesOnlyWhenThePasswordAndItsNulFit) {
  char buffer[6];
  std::fill(std::begin(buffer), std::end(buffer), 'x');
  EXPECT_FALSE(zkmint::CopyPassword("secret", buffer, 6));  // 7 bytes with the NUL
  EXPECT_EQ(std::string(buffer, 6), "xxxxxx");
  EXPECT_TRUE(zkmint::CopyPassword("secre", buffer, 6));
  EXPECT_STREQ(buffer, "secre");
  EXPECT_FALSE(zkmint::CopyPassword("", buffer, 0));
  EXPECT_FALSE(zkmint::CopyPassword("", nullptr, 6));
}

TEST(ReadPasswordFile, TakesTheFirstLineWithoutItsLineEnd) {
  std::string password;
  ASSERT_TRUE(zkmint::ReadPasswordFile(WriteTemp("zkmint_pw.txt", "pass word\r\nsecond line\n"), password));
  EXPECT_EQ(password, "pass word");
  EXPECT_FALSE(zkmint::ReadPasswordFile(::testing::TempDir() + "zkmint_no_pw.txt", password));
}

}  // namespace
