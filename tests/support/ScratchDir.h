// A fresh directory for one test's files, removed with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "penrika-test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Where they go: the private work directory of with-x.sh when there is one, else the
    // system's temporary directory.
    static std::filesystem::path Base();

  private:
    std::filesystem::path path_;
};
