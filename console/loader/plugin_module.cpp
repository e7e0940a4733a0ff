// Loading the page plug-in at run time and resolving its five exports by name.
#include "plugin_module.h"

#include <stdexcept>
#include <string>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

namespace tessera::console {
namespace {

#if defined(_WIN32)
std::string LastLoaderError() { return "error " + std::to_string(::GetLastError()); }

void* OpenLibrary(const std::filesystem::path& library) { return ::LoadLibraryW(library.c_str()); }

void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }
#else
std::string LastLoaderError() {
    const char* message = ::dlerror();
    return message != nullptr ? message : "unknown loader error";
}

void* OpenLibrary(const std::filesystem::path& library) {
    // RTLD_LOCAL keeps the plug-in's symbols out of the console's namespace.
    return ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void CloseLibrary(void* handle) { ::dlclose(handle); }
#endif

template <typename Function>
Function ResolveExport(void* handle, const char* name, const std::filesystem::path& library) {
    void* symbol = FindSymbol(handle, name);
    if (symbol == nullptr) {
        std::string message = "plug-in " + library.string() + " has no export " + name;
        CloseLibrary(handle);
        throw std::runtime_error(message);
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

PluginModule::PluginModule(const std::filesystem::path& library) : handle_(OpenLibrary(library)) {
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load plug-in " + library.string() + ": " + LastLoaderError());
    }
    initialize_ = ResolveExport<WebUI_Initialize_fn>(handle_, "WebUI_Initialize", library);
    ui_request_ = ResolveExport<WebUI_UIRequest_fn>(handle_, "WebUI_UIRequest", library);
    free_ = ResolveExport<WebUI_Free_fn>(handle_, "WebUI_Free", library);
    handle_system_message_ = ResolveExport<WebUI_HandleSystemMessage_fn>(handle_, "WebUI_HandleSystemMessage", library);
    deinitialize_ = ResolveExport<WebUI_Deinitialize_fn>(handle_, "WebUI_Deinitialize", library);
}

PluginModule::~PluginModule() { CloseLibrary(handle_); }

int PluginModule::Initialize() const { return initialize_(); }

int PluginModule::UIRequest(const CCGIRequestData* request, char** output) const {
    return ui_request_(request, output);
}

void PluginModule::Free(char* output) const { free_(output); }

int PluginModule::HandleSystemMessage(std::int32_t message, std::intptr_t param1, std::int32_t param2,
                                      std::intptr_t param3) const {
    return handle_system_message_(message, param1, param2, param3);
}

int PluginModule::Deinitialize() const { return deinitialize_(); }

}  // namespace tessera::console
