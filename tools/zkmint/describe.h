// `zkmint describe`: what each engine of the library announces about itself (type string,
// parameters with their defaults, limits, and the texts of its result codes), as text, Markdown
// or JSON. Everything is asked of the library through the exports, so the page it makes cannot
// differ from what a host sees.
#pragma once

#include <string>

#include "options.h"
#include "zk_loader.h"

namespace zkmint {

// Result codes are probed over this range; engines keep their own codes and the toolkit codes
// they pass through well inside it.
constexpr int32_t kDescribeLowestCode = -1000;
constexpr int32_t kDescribeHighestCode = 1000;

// Prints the description of options.engine, or of every engine the library builds; returns the
// exit status.
int Describe(const zkhost::ZkApi& api, const Options& options);

}  // namespace zkmint
