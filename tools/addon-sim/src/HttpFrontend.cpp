#include "HttpFrontend.h"

#include "AddonRequest.h"
#include "ConnectionDropper.h"

#include <cstdio>

namespace folvane::sim {

namespace {

// Delayed requests hold a worker each while they wait, so there are more workers than the library's default.
constexpr std::size_t workerCount = 64;

std::string pathOf(const httplib::Request& request) {
    return request.target.substr(0, request.target.find('?'));
}

std::optional<std::string> header(const httplib::Request& request, const char* name) {
    return request.has_header(name) ? std::optional<std::string>(request.get_header_value(name))
                                    : std::nullopt;
}

} // namespace

HttpFrontend::HttpFrontend(Simulator& simulator, bool verbose)
    : simulator_(simulator), control_(simulator), verbose_(verbose) {
    server_.new_task_queue = [] { return new httplib::ThreadPool(workerCount); };
    // The library's default also sets SO_REUSEPORT, which would let a second simulator share a busy port and
    // steal half of the first one's requests. Only SO_REUSEADDR stays, for quick restarts.
    server_.set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response);
    };
    server_.Get(".*", handler);
    // Bodies are read through a content reader: the library would refuse any form body over 8 KiB read the
    // ordinary way, and templates travel inside form bodies.
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                              const httplib::ContentReader& readBody) {
        httplib::Request withBody = request;
        readBody([&withBody](const char* data, size_t length) {
            withBody.body.append(data, length);
            return true;
        });
        handle(withBody, response);
    });
    // The library answers 400 to a POST without Content-Length (what "curl -X POST" sends); take it as an
    // empty body instead.
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (request.method != "POST" || request.has_header("Content-Length") ||
            request.has_header("Transfer-Encoding")) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        handle(request, response);
        return httplib::Server::HandlerResponse::Handled;
    });
}

int HttpFrontend::bind(const std::string& host, int port) {
    if (port == 0) {
        return server_.bind_to_any_port(host);
    }
    return server_.bind_to_port(host, port) ? port : -1;
}

bool HttpFrontend::serve() {
    return server_.listen_after_bind();
}

void HttpFrontend::stop() {
    sleep_.wakeAll();
    server_.stop();
}

void HttpFrontend::handle(const httplib::Request& request, httplib::Response& response) {
    if (pathOf(request).starts_with(ControlApi::prefix)) {
        handleControl(request, response);
    } else {
        handleAddon(request, response);
    }
}

void HttpFrontend::handleAddon(const httplib::Request& request, httplib::Response& response) {
    const AddonRequest addonRequest = AddonRequest::parse(simulator_.cms(), request.method, request.target,
                                                          request.body, header(request, "Cookie"));
    const FaultDecision decision = simulator_.admit(addonRequest);
    if (decision.delay.count() > 0) {
        sleep_.sleepFor(decision.delay);
    }
    if (decision.outcome == FaultKind::Drop) {
        const bool dropped =
            ConnectionDropper::drop(request.remote_addr, request.remote_port, request.local_port);
        report(request, dropped ? "dropped" : "drop failed");
        return;
    }
    if (decision.outcome == FaultKind::Redirect) {
        response.status = 307;
        response.set_header("Location", decision.location.empty() ? request.target : decision.location);
        report(request, "redirected");
        return;
    }
    const AddonAnswer answer = simulator_.answer(addonRequest, decision);
    if (decision.outcome == FaultKind::LoseAnswer) {
        const bool dropped =
            ConnectionDropper::drop(request.remote_addr, request.remote_port, request.local_port);
        report(request, addonRequest.action.value_or("(no action)") +
                            (dropped ? " carried out, answer lost" : " carried out, drop failed"));
        return;
    }
    response.status = answer.status;
    if (answer.setCookie) {
        response.set_header("Set-Cookie", *answer.setCookie);
    }
    if (decision.outcome == FaultKind::Drip) {
        drip(response, decision.body.empty() ? answer.body() : decision.body, decision, answer.contentType);
    } else {
        response.set_content(answer.body(), answer.contentType);
    }
    report(request, addonRequest.action.value_or("(no action)") + " -> " + std::to_string(answer.status));
}

void HttpFrontend::drip(httplib::Response& response, std::string body, const FaultDecision& decision,
                        const std::string& contentType) {
    // Past the end of the body the announced length is filled with blanks, which JSON allows.
    const auto length =
        static_cast<size_t>(decision.length < 0 ? static_cast<long long>(body.size()) : decision.length);
    const std::chrono::milliseconds pause(decision.ms);
    response.set_content_provider(
        length, contentType,
        [this, body = std::move(body), pause](size_t offset, size_t, httplib::DataSink& sink) {
            sleep_.sleepFor(pause);
            const char byte = offset < body.size() ? body[offset] : ' ';
            return sink.write(&byte, 1);
        });
}

void HttpFrontend::handleControl(const httplib::Request& request, httplib::Response& response) {
    const ControlReply reply = control_.handle(request.method, pathOf(request), request.body);
    response.status = reply.status;
    response.set_content(dumpJson(reply.body), "application/json; charset=UTF-8");
    report(request, std::to_string(reply.status));
}

void HttpFrontend::report(const httplib::Request& request, const std::string& outcome) const {
    if (!verbose_) {
        return;
    }
    // One write per line keeps lines from concurrent requests whole. The query is left out: it is the
    // client's to fill, and a broken client could put a password there.
    const std::string line = request.method + " " + pathOf(request) + " " + outcome + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace folvane::sim
