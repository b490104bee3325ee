// Where vestrel-sim finds vestrel.so: beside the tool, one level up (the
// build tree), where an install puts it relative to the tool, or where the
// build put it.
#pragma once

#include <filesystem>
#include <string>

inline std::string defaultPluginPath(const char *argv0)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path self = fs::canonical("/proc/self/exe", ec);
    if (ec)
        self = fs::absolute(argv0);
    for (const fs::path &candidate :
         {self.parent_path() / "vestrel.so", self.parent_path().parent_path() / "vestrel.so",
          self.parent_path().parent_path() / VESTREL_INSTALLED_SO}) {
        if (fs::exists(candidate))
            return candidate.string();
    }
    return VESTREL_SO;
}
