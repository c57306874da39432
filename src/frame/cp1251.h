// Windows-1251: the code page of the library's Russian texts. Tables are written in UTF-8 in the
// source and converted once; hosts receive the Windows-1251 bytes.
#pragma once

#include <string>
#include <string_view>

namespace zk {

// Characters without a Windows-1251 form become "?".
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace zk
