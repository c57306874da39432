// The Validata engine's own texts, in Windows-1251 as hosts receive them.
#pragma once

#include <cstdint>
#include <string>

namespace zk::validata {

// False for codes the engine has no text of its own for.
bool OwnText(int32_t Code, std::string& Text);
// The text when no binding can answer for the toolkit.
std::string NoBindingText();

}  // namespace zk::validata
