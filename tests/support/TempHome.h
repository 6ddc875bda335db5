// Points settings, data and the program directory at a fresh temporary directory, so that a
// test never touches the user's real files.
#pragma once

#include <filesystem>
#include <string>

#include "support/ScratchDir.h"

class TempHome {
  public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    // Stands in for the program's directory (AppDir).
    std::filesystem::path appDir() const { return root() / "app"; }
    std::filesystem::path configHome() const { return root() / "config"; }
    std::filesystem::path dataHome() const { return root() / "data"; }
    std::filesystem::path settingsFile() const { return configHome() / "Tamsel" / "Penrika.ini"; }

    static std::string ReadFile(const std::filesystem::path& p);
    static void WriteFile(const std::filesystem::path& p, const std::string& bytes);

  private:
    ScratchDir root_;
    std::string oldConfig_, oldData_;
    bool hadConfig_ = false, hadData_ = false;
};
