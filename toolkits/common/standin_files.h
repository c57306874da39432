// Key-file helpers of the stand-ins: whole files written so that a failure leaves no partial
// file behind (a half-written key file would later read as a damaged key).
#pragma once

#include <cstddef>

namespace standin {

enum class WriteResult { kOk, kOpenFailed, kWriteFailed, kCloseFailed };

// Creates or replaces the file with exactly `size` bytes; on any failure the file is removed.
WriteResult WriteWholeFile(const char* path, const void* data, size_t size);

}  // namespace standin
