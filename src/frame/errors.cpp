#include "frame/errors.h"

#include <new>

namespace zk {

std::string DescribeException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  } catch (const std::bad_alloc&) {
    return "EOutOfMemory: Out of memory";
  } catch (const std::exception& e) {
    return std::string("Exception: ") + e.what();
  } catch (...) {
    return "Exception: unknown exception";
  }
}

}  // namespace zk
