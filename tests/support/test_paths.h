// Where the tests find the built plug-in, the console and the project's files.
#pragma once

#include <filesystem>

namespace tessera::test {

inline std::filesystem::path PluginPath() { return TESSERA_TEST_PLUGIN_PATH; }
#if defined(TESSERA_TEST_CONSOLE_PATH)  // the console is not built for Windows
inline std::filesystem::path ConsolePath() { return TESSERA_TEST_CONSOLE_PATH; }
#endif
inline std::filesystem::path SourceDir() { return TESSERA_TEST_SOURCE_DIR; }
inline std::filesystem::path ResourceDir() { return SourceDir() / "data"; }

}  // namespace tessera::test
