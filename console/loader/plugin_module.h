// A page plug-in loaded at run time and reached only through its five exports.
#pragma once

#include "webui_exports.h"

#include <cstdint>
#include <filesystem>
#include <string>

class CCGIRequestData;

namespace tessera::console {

class PluginModule {
public:
    // Loads the library and resolves the five exports; throws std::runtime_error
    // naming the file and the missing symbol or loader error.
    explicit PluginModule(const std::filesystem::path& library);
    ~PluginModule();  // unloads

    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    int Initialize() const;
    int UIRequest(const CCGIRequestData* request, char** output) const;
    void Free(char* output) const;
    int HandleSystemMessage(std::int32_t message, std::intptr_t param1, std::int32_t param2,
                            std::intptr_t param3) const;
    int Deinitialize() const;

private:
    void* handle_ = nullptr;
    WebUI_Initialize_fn initialize_ = nullptr;
    WebUI_UIRequest_fn ui_request_ = nullptr;
    WebUI_Free_fn free_ = nullptr;
    WebUI_HandleSystemMessage_fn handle_system_message_ = nullptr;
    WebUI_Deinitialize_fn deinitialize_ = nullptr;
};

// WebUI_Initialize for its lifetime, paired with WebUI_Deinitialize on every
// way out, a thrown exception included.
class PluginSession {
public:
    explicit PluginSession(const PluginModule& plugin) : plugin_(plugin) { plugin_.Initialize(); }
    ~PluginSession() { plugin_.Deinitialize(); }
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

private:
    const PluginModule& plugin_;
};

}  // namespace tessera::console
