#include "one_request_server.h"

#include "response_head.h"
#include "routes.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace tessera::fuzz {
namespace {

// The request's bytes to read, and what the library writes.
class MemoryStream final : public httplib::Stream {
public:
    explicit MemoryStream(std::string_view input, Answer& answer) : input_(input), answer_(answer) {}

    bool is_readable() const override { return offset_ < input_.size(); }
    bool is_writable() const override { return true; }

    ssize_t read(char* data, size_t size) override {
        const std::size_t count = std::min(size, input_.size() - offset_);
        std::copy_n(input_.data() + offset_, count, data);
        offset_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* data, size_t size) override {
        std::string_view out(data, size);
        console::FinishedHead head;
        if (!is_final_head_seen_) {
            head = console::FinishResponseHead(out, std::chrono::system_clock::now());
            if (!head.is_interim) {
                is_final_head_seen_ = true;
                answer_.closes = head.closes;
                answer_.status = std::atoi(head.text.c_str() + head.text.find(' ') + 1);
            }
            out = head.text;
        }
        answer_.written.append(out);
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = OneRequestServer::kListenPort;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string_view input_;
    std::size_t offset_ = 0;
    Answer& answer_;
    bool is_final_head_seen_ = false;
};

void Refuse(httplib::Response& response, const console::Refusal& refusal) {
    response.status = refusal.status;
    for (const auto& [name, value] : refusal.headers) response.set_header(name, value);
    response.set_header("Connection", "close");
    response.set_content(refusal.reason, "text/plain");
}

}  // namespace

OneRequestServer::OneRequestServer(console::FormLimits form_limits) : form_limits_(form_limits) {
    screening_.max_body_bytes = head_limits_.max_body_bytes;
    screening_.listen_host = "127.0.0.1";
    screening_.listen_port = kListenPort;
    set_payload_max_length(head_limits_.max_body_bytes);
    set_expect_100_continue_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (const auto refusal = console::ScreenRequest(request, console::RouteOf(request.path), screening_)) {
            Refuse(response, *refusal);
            return refusal->status;
        }
        return 100;
    });
    set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (const auto refusal = console::ScreenRequest(request, console::RouteOf(request.path), screening_)) {
            Refuse(response, *refusal);
            return HandlerResponse::Handled;
        }
        return HandlerResponse::Unhandled;
    });
    Get("[\\s\\S]*",
        [](const httplib::Request&, httplib::Response& response) { response.set_content("", "text/html"); });
    Post("[\\s\\S]*",
         [this](const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
             last_form_ = console::ReadFormBody(request, reader, form_limits_);
             response.status = last_form_->error_status == 0 ? 200 : last_form_->error_status;
         });
}

Answer OneRequestServer::Serve(std::string_view sent) {
    Answer answer;
    last_form_.reset();
    std::size_t checked_bytes = 0;
    answer.head = console::ReadRequestHead(sent, head_limits_, checked_bytes);
    const console::RequestHead& head = answer.head;
    if (head.state == console::RequestHead::State::kIncomplete) return answer;
    if (head.state == console::RequestHead::State::kRefused) {
        answer.written =
            console::RefusalResponse(head.refusal_status, head.refusal_reason, "", std::chrono::system_clock::now());
        answer.status = head.refusal_status;
        answer.closes = true;
        return answer;
    }
    std::string input = head.rewritten.empty() ? std::string(sent.substr(0, head.head_bytes)) : head.rewritten;
    input.append(sent.substr(head.head_bytes));
    return Process(input, std::move(answer));
}

Answer OneRequestServer::ServeUnread(std::string_view sent) {
    last_form_.reset();
    return Process(sent, Answer{});
}

Answer OneRequestServer::Process(std::string_view input, Answer answer) {
    MemoryStream stream(input, answer);
    bool is_closed = false;
    process_request(stream, true, is_closed, nullptr);
    return answer;
}

}  // namespace tessera::fuzz
