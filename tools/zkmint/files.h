// Whole-file input and output for the file commands; "-" stands for standard input or output.
#pragma once

#include <string>

#include "engine.h"

namespace zkmint {

bool ReadInput(const std::string& path, Bytes& data, std::string& error);
bool WriteOutput(const std::string& path, const Bytes& data, std::string& error);

}  // namespace zkmint
