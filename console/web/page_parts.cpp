// The parts of the console's own pages.
#include "page_parts.h"
#include "routes.h"

#include "hosted_pages.h"
#include "html_doc.h"
#include "os_string.h"
#include "text_util.h"

namespace tessera::console {

std::string Escaped(const std::string& utf8) { return host::EscapedMarkup<char>(utf8); }

std::string NoticeParagraph(const std::string& text, bool is_error) {
    if (text.empty()) return {};
    return std::string("<p class=\"message ") + (is_error ? "error\" role=\"alert\">" : "success\" role=\"status\">") +
           Escaped(text) + "</p>";
}

namespace {

std::string NavLink(const std::string& path, const char* label, const std::string& current_path) {
    return "<a href=\"" + path + "\"" + (path == current_path ? " aria-current=\"page\"" : "") + ">" + label + "</a>";
}

}  // namespace

std::string AccountLinks(const std::string& current_path, std::string_view role) {
    std::string links = NavLink(kAccountPath, "Your account", current_path);
    if (role == RoleName(RouteOf(kAdministratorsPath).reader)) {
        links += NavLink(kAdministratorsPath, "Administrators", current_path);
    }
    return links;
}

std::string SignedInAs(const std::string& account, std::string_view role) {
    return "<span class=\"signed-in\" id=\"signedInAs\">" + Escaped(account) + " (" + Escaped(std::string(role)) +
           ")</span>";
}

std::string TopBar(const std::string& current_path, const std::string& account, std::string_view role) {
    const std::string settings = PagePath(kSettingsPageId);
    return "<header class=\"topbar\"><a class=\"brand\" href=\"" + settings +
           "\"><img class=\"brand-logo\" src=\"/static/img/tessera.svg\" alt=\"\" width=\"28\" height=\"28\">"
           "<span class=\"brand-name\">Tessera</span><span class=\"brand-sub\">Security console</span></a>"
           "<nav class=\"topnav\" aria-label=\"Console\">" +
           NavLink(settings, "Settings", current_path) + NavLink(kHistoryPath, "History", current_path) +
           AccountLinks(current_path, role) + "</nav>" + SignedInAs(account, role) +
           "<form class=\"signout\" method=\"post\" action=\"" + kSignOutPath +
           "\"><button type=\"submit\" id=\"btnSignOut\" class=\"button ghost\">Sign out</button></form></header>";
}

std::optional<std::string> FilledTemplate(const wchar_t* path, const TemplateFields& fields) {
    CHtmlDoc document(nullptr);
    if (document.Open(path) != 0) return std::nullopt;
    for (const auto& [placeholder, value] : fields) document.SetField(placeholder, OS::FromUtf8(value).c_str());
    const wchar_t* content = document.GetHtmlContent();
    return OS::ToUtf8(content != nullptr ? content : L"");
}

}  // namespace tessera::console
