#include "apps/cedevice/log_reader.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace cedevice {

namespace fs = std::filesystem;

LogReader::LogReader(std::string path, Start start) : path_(std::move(path)) {
  if (start == Start::atBeginning) return;
  std::error_code error;
  uintmax_t size = fs::file_size(path_, error);
  identity_ = ce::fileIdentity(path_);
  offset_ = error ? 0 : size;
}

std::string LogReader::next() {
  auto identity = ce::fileIdentity(path_);
  if (!identity) return "";
  std::error_code error;
  uintmax_t size = fs::file_size(path_, error);
  if (error) return "";
  if (identity_ && *identity != *identity_) {
    std::fprintf(stderr, "cedevice: %s has been replaced; following the new file\n", path_.c_str());
    offset_ = 0;
  } else if (size < offset_) {
    std::fprintf(stderr, "cedevice: %s: file truncated\n", path_.c_str());
    offset_ = 0;
  }
  identity_ = identity;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return "";
  in.seekg(static_cast<std::streamoff>(offset_));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t end = text.rfind('\n');
  if (end == std::string::npos) return "";
  text.resize(end + 1);
  offset_ += text.size();
  return text;
}

}  // namespace cedevice
