// The web console's plain answers: a page body set without a copy, a short
// page for an error or a refusal, a redirect, and a form's first value.
#pragma once

#include "form_decoding.h"

#include <string>

namespace httplib {
struct Response;
}  // namespace httplib

namespace tessera::console {

inline constexpr char kHtmlType[] = "text/html; charset=utf-8";
// How long a client should wait before it sends a change the store refused again.
inline constexpr char kRetryAfterSeconds[] = "5";

// The library's set_content copies the body: a page of a million entries is 77 MB.
void SetContent(httplib::Response& response, std::string body, const std::string& content_type);
// A page of its own: the status as its title and `reason` as its text.
void SendShortPage(httplib::Response& response, int status, const std::string& reason);
// 303 See Other: the answer to a form goes to a page of its own.
void Redirect(httplib::Response& response, const std::string& location);
// The first value of the field `name`, as UTF-8; empty when there is none.
std::string FirstField(const FormFields& fields, const wchar_t* name);

}  // namespace tessera::console
