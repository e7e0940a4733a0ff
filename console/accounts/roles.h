// What an administrator's account may do. Each role may do all that the ones
// before it may.
#pragma once

#include <optional>
#include <string_view>

namespace tessera::console {

enum class Role {
    kAuditor,        // reads the settings, History and the audit records, exports the list
    kEditor,         // and changes the settings and the list, restores defaults and History
    kAdministrator,  // and manages accounts and other people's sessions
};

inline constexpr std::string_view RoleName(Role role) {
    switch (role) {
    case Role::kAuditor:
        return "auditor";
    case Role::kEditor:
        return "editor";
    case Role::kAdministrator:
        break;
    }
    return "administrator";
}

inline std::optional<Role> RoleOfName(std::string_view name) {
    for (const Role role : {Role::kAuditor, Role::kEditor, Role::kAdministrator}) {
        if (RoleName(role) == name) return role;
    }
    return std::nullopt;
}

inline constexpr bool Permits(Role held, Role needed) { return static_cast<int>(held) >= static_cast<int>(needed); }

}  // namespace tessera::console
