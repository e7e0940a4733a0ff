// The web console: `tessera-console serve`.
#pragma once

namespace CLI {
class App;
}  // namespace CLI

namespace tessera::console {

void AddServeCommand(CLI::App& app);

}  // namespace tessera::console
