// Whatever a client sends, the head reader gives the same verdict however the
// bytes arrive, the library's hooks and the screening neither throw nor fail
// (also on heads the reader would refuse), and a request that could not be
// read closes its connection.
#include "one_request_server.h"
#include "require.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using tessera::console::RequestHead;
using tessera::fuzz::Require;

namespace {

bool IsRefusalStatus(int status) {
    return status == 400 || status == 413 || status == 414 || status == 431 || status == 501 || status == 505;
}

// The verdict on `sent` when it arrives a byte at a time: the first call that
// is not kIncomplete, or the last.
RequestHead ReadByteByByte(std::string_view sent, const tessera::console::RequestHeadLimits& limits) {
    std::size_t checked_bytes = 0;
    RequestHead head;
    for (std::size_t received = 1; received <= sent.size(); ++received) {
        head = tessera::console::ReadRequestHead(sent.substr(0, received), limits, checked_bytes);
        if (head.state != RequestHead::State::kIncomplete) break;
    }
    return head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tessera::fuzz::OneRequestServer server({});
    const std::string_view sent(reinterpret_cast<const char*>(data), size);
    const tessera::fuzz::Answer answer = server.Serve(sent);
    const RequestHead& whole = answer.head;

    const RequestHead trickled = ReadByteByByte(sent, {});
    Require(trickled.state == whole.state, "a head read a byte at a time gets the verdict it gets read whole");
    Require(trickled.refusal_status == whole.refusal_status, "a refusal does not depend on how the bytes arrive");
    Require(trickled.head_bytes == whole.head_bytes, "a head ends where it ends however it arrives");

    if (whole.state == RequestHead::State::kRefused) {
        Require(IsRefusalStatus(whole.refusal_status), "a head is refused with 400, 413, 414, 431, 501 or 505");
    }
    if (whole.state == RequestHead::State::kComplete) {
        Require(whole.head_bytes <= size, "a head ends inside what was sent");
        Require(
            !whole.has_content_length || whole.content_length <= tessera::console::RequestHeadLimits{}.max_body_bytes,
            "a Content-Length over the limit is refused");
    }
    if (answer.status != 0) {
        Require(answer.status != 500, "no request makes the screening or a handler fail");
        Require(answer.written.rfind("HTTP/1.", 0) == 0, "an answer starts with a status line");
        Require(answer.written.find("\r\nDate: ") != std::string::npos, "an answer carries a Date");
    }
    if (answer.status == 400) Require(answer.closes, "what follows a request that could not be read is not served");

    const tessera::fuzz::Answer unread = server.ServeUnread(sent);
    Require(unread.status != 500, "no head the library reads makes the screening fail");
    if (unread.status == 400) Require(unread.closes, "a request the library could not read closes its connection");
    return 0;
}
