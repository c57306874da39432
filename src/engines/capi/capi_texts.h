// The texts of the CryptoAPI engines' codes.
#pragma once

#include <cstdint>
#include <string>

namespace zk::capi {

// The table text of a code (HRESULT values taken as unsigned); false when the table has none.
bool CodeText(int32_t Code, std::string& Text);

}  // namespace zk::capi
