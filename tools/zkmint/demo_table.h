// The demo's result table: one line per operation (engine, operation, result code, short text),
// printed as it happens, and whether every result was the one the scenario expects.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine.h"

namespace zkmint {

class DemoTable {
 public:
  explicit DemoTable(std::FILE* out) : out_(out) {}
  void PrintHeader();
  // `code` is the column text: a result code, or "-" for calls without one.
  void Row(const std::string& engine, const std::string& operation, const std::string& code, bool asExpected,
           const std::string& text);
  bool AllAsExpected() const { return unexpected_ == 0; }
  int UnexpectedCount() const { return unexpected_; }

 private:
  std::FILE* out_;
  int unexpected_ = 0;
};

// The rows of one engine (a label such as "OpenSSL (user A)"), judged against expectations.
class DemoSteps {
 public:
  DemoSteps(DemoTable& table, std::string engineLabel) : table_(table), label_(std::move(engineLabel)) {}

  // A call that must return 0; `problem` non-empty marks wrong output despite the 0.
  bool Succeeds(Engine& engine, const std::string& operation, int32_t code, const std::string& detail,
                const std::string& problem = "");
  // A call that must not return 0 (tampered data, a revoked certificate, an unsupported call).
  bool Fails(Engine& engine, const std::string& operation, int32_t code, const std::string& why);
  // A call without a result code.
  void Done(const std::string& operation, const std::string& detail);
  void NotAvailable(const std::string& operation, const std::string& why);
  void Unexpected(const std::string& operation, const std::string& why);

 private:
  DemoTable& table_;
  std::string label_;
};

}  // namespace zkmint
