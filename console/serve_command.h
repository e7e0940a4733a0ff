// The web console: `tessera-console serve` and `tessera-console passwd`.
#pragma once

#include <CLI/CLI.hpp>

namespace tessera::console {

void AddServeCommand(CLI::App& app);
void AddPasswdCommand(CLI::App& app);

}  // namespace tessera::console
