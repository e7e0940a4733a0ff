// The web console: `tessera-console serve` and `tessera-console passwd`.
#pragma once

namespace CLI {
class App;
}  // namespace CLI

namespace tessera::console {

void AddServeCommand(CLI::App& app);
void AddPasswdCommand(CLI::App& app);

}  // namespace tessera::console
