#pragma once

#include <filesystem>
#include <string>

namespace e2e {

// A fresh directory for one test's files, inside the private work directory of with-x.sh when
// there is one; removed with everything in it when the object goes.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "e2e");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace e2e
