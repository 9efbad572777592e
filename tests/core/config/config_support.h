// What the tests of the two configuration files share: their bytes on disk and the error a load or a
// save refuses with.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/config/config.h"
#include "support/temp_folder.h"

namespace tarvel::test {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(TempFolder::PutFile(path, bytes)) << path;
}

inline std::string ReadBytes(const std::string& path) {
    return std::filesystem::exists(path) ? TempFolder::ReadFile(path) : "<missing>";
}

// The text of the ConfigError that action throws, or a note that it threw none.
template <typename Action> std::string ConfigErrorOf(Action action) {
    try {
        action();
    } catch (const ConfigError& error) {
        return error.what();
    }
    return "<no ConfigError>";
}

} // namespace tarvel::test
