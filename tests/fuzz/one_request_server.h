// One request answered in process, as the connection layer hands it to the
// HTTP library: its head read and checked first, then parsed, screened and
// routed by the library, with the console's screening in the library's two
// hooks where the console puts it. Nothing is caught here: an exception out
// of a hook or a handler ends the process, as it would end the console's.
#pragma once

#include "form_decoding.h"
#include "request_head.h"
#include "request_screening.h"

#include <httplib.h>

#include <optional>
#include <string>
#include <string_view>

namespace tessera::fuzz {

struct Answer {
    console::RequestHead head;  // as the connection layer read it
    std::string written;        // every byte of the answer, each head finished as the connection layer finishes it
    int status = 0;             // of the final response; 0 when the request was incomplete
    bool closes = false;        // the connection closes after the answer
};

class OneRequestServer : public httplib::Server {
public:
    explicit OneRequestServer(console::FormLimits form_limits);

    // Answers the request at the start of `sent`, everything a client sent on
    // a new connection.
    Answer Serve(std::string_view sent);
    // The same, with the head handed to the library unread: the screening
    // must hold for whatever the library makes of any bytes, should the head
    // reader ever let them through.
    Answer ServeUnread(std::string_view sent);

    // The form the last POST that passed the screening carried, as decoded.
    const std::optional<console::FormBody>& LastForm() const { return last_form_; }

    static constexpr int kListenPort = 8080;

private:
    Answer Process(std::string_view input, Answer answer);

    console::RequestHeadLimits head_limits_;
    console::ScreeningSettings screening_;
    console::FormLimits form_limits_;
    std::optional<console::FormBody> last_form_;
};

}  // namespace tessera::fuzz
