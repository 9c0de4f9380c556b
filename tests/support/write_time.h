// A file's last write time, to the precision the file system keeps: std::filesystem of
// mingw-w64 reads and sets whole seconds only, which would hide what a change within one
// second does.
#pragma once

#include <filesystem>
#include <string>

namespace ce::test {

std::filesystem::file_time_type lastWriteTime(const std::string& path);
void setLastWriteTime(const std::string& path, std::filesystem::file_time_type time);

}  // namespace ce::test
