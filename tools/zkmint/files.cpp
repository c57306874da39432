#include "files.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace zkmint {
namespace {

void BinaryMode(std::FILE* stream) {
#if defined(_WIN32)
  // Text mode would turn every LF of an envelope into CR LF.
  _setmode(_fileno(stream), _O_BINARY);
#else
  (void)stream;
#endif
}

}  // namespace

bool ReadInput(const std::string& path, Bytes& data, std::string& error) {
  data.clear();
  if (path == "-") {
    BinaryMode(stdin);
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data.insert(data.end(), chunk, chunk + got);
    if (std::ferror(stdin)) {
      error = "cannot read standard input";
      return false;
    }
    return true;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool WriteOutput(const std::string& path, const Bytes& data, std::string& error) {
  if (path == "-") {
    BinaryMode(stdout);
    if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() || std::fflush(stdout) != 0) {
      error = "cannot write standard output";
      return false;
    }
    return true;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  file.close();
  if (!file) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace zkmint
