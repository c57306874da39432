// Exceptions raised inside engines. Each carries the class name that goes into the stored error
// text ("<prefix><ClassName>: <message>"), as hosts see it through GetCryptoErrorString.
#pragma once

#include <stdexcept>
#include <string>

namespace zk {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const { return "Exception"; }
};

// An internal consistency check failed: "Assertion failure (<unit>, line <n>)".
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(const char* unit, int line)
      : Exception("Assertion failure (" + std::string(unit) + ", line " + std::to_string(line) + ")") {}
  const char* ClassName() const override { return "EAssertionFailed"; }
};

// A null pointer where the contract requires memory: checked, never dereferenced.
class EAccessViolation : public Exception {
 public:
  explicit EAccessViolation(const std::string& what) : Exception("Access violation: null " + what) {}
  const char* ClassName() const override { return "EAccessViolation"; }
};

class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// The class name and message of whatever was caught, for the stored error text.
std::string DescribeException(const std::exception_ptr& error);

}  // namespace zk

#define ZK_ASSERT(cond, unit) \
  do {                        \
    if (!(cond)) throw ::zk::EAssertionFailed(unit, __LINE__); \
  } while (0)

// Throws EAccessViolation for a null pointer that the contract says must be valid.
#define ZK_REQUIRE_NOT_NULL(ptr) \
  do {                           \
    if ((ptr) == nullptr) throw ::zk::EAccessViolation(#ptr); \
  } while (0)
