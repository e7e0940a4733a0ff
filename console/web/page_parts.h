// What the console's own pages are made of: a notice at the top, and a
// template with its placeholders filled.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessera::console {

// `text` as markup that shows it as it is.
std::string Escaped(const std::string& utf8);

// A notice paragraph: an alert for an error, a status line else; empty for no text.
std::string NoticeParagraph(const std::string& text, bool is_error);

// The top bar of the console's own pages: the brand, the pages (the one at
// `current_path` marked), the signed-in account with its role, Sign out.
std::string TopBar(const std::string& current_path, const std::string& account, std::string_view role);

// The links to the account's own pages (its role's), for a top bar's navigation.
std::string AccountLinks(const std::string& current_path, std::string_view role);
// Who is signed in, as the top bar names them.
std::string SignedInAs(const std::string& account, std::string_view role);

using TemplateFields = std::vector<std::pair<const wchar_t*, std::string>>;

// The template at `path` (under the web root) with each placeholder replaced
// by its markup, as UTF-8; nullopt when the template cannot be opened.
std::optional<std::string> FilledTemplate(const wchar_t* path, const TemplateFields& fields);

}  // namespace tessera::console
