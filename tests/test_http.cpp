#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "fixtures/fake_chat_server.h"
#include "http.h"
#include "platform.h"

using namespace nl;
using nlohmann::json;
using nltest::FakeChatServer;

namespace {

// Requests to the loopback server must not wander off to a proxy of the
// machine's; a test that wants a proxy sets one itself.
class HttpTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            unsetenv(name);
        }
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        registerPlatformServices();
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A loopback port that nothing listens on.
int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

size_t headerIndex(const json& request, const std::string& name) {
    for (size_t i = 0; i < request["headers"].size(); ++i)
        if (request["headers"][i][0] == name) return i;
    return std::string::npos;
}

}  // namespace

TEST_F(HttpTransportTest, StatusBodyAndHeaders) {
    const std::string big(5 << 20, 'z');
    FakeChatServer server(json::array({
        {{"body", {{"choices", json::array()}}}},
        {{"status", 401}, {"body", {{"error", {{"message", "bad key"}}}}}},
        {{"status", 502}, {"body", "<html><body>Bad gateway</body></html>"}, {"content_type", "text/html"}},
        {{"body", big}},
        {{"body", "0123456789"}, {"truncate", true}},
        {{"status", 204}, {"body", ""}},
    }));
    if (!server.running()) GTEST_SKIP() << "python3 is needed for the loopback server";

    const std::string request = R"({"messages":[],"model":"m"})";
    HttpResponse r = postJson(server.url("/v1/chat/completions"), request, {"Authorization: Bearer sk-1"}, 10);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, R"({"choices": []})");
    EXPECT_EQ(r.error, "");

    r = postJson(server.url("/v1/chat/completions"), request, {}, 10);
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(json::parse(r.body)["error"]["message"], "bad key");
    EXPECT_EQ(r.error, "");

    r = postJson(server.url("/v1/chat/completions"), request, {}, 10);
    EXPECT_EQ(r.status, 502);
    EXPECT_EQ(r.body, "<html><body>Bad gateway</body></html>");
    EXPECT_EQ(r.error, "");

    r = httpRequest("GET", server.url("/big?x=1"), "", {}, 10);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, big);
    EXPECT_EQ(r.error, "");

    // A body cut short after the status line: what arrived is kept, no error.
    r = httpRequest("GET", server.url("/cut"), "", {}, 10);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "01234");
    EXPECT_EQ(r.error, "");

    r = httpRequest("DELETE", server.url("/empty"), "", {"X-Trace: 1\r\nInjected: yes"}, 10);
    EXPECT_EQ(r.status, 204);
    EXPECT_EQ(r.body, "");

    const json sent = server.requests();
    ASSERT_EQ(sent.size(), 6u);
    const json& first = sent[0];
    EXPECT_EQ(first["method"], "POST");
    EXPECT_EQ(first["path"], "/v1/chat/completions");
    EXPECT_EQ(first["body"], request);
    EXPECT_EQ(FakeChatServer::header(first, "User-Agent"), "Netloom/1.0");
    EXPECT_EQ(FakeChatServer::header(first, "Authorization"), "Bearer sk-1");
    EXPECT_EQ(FakeChatServer::header(first, "Content-Type"), "application/json");
    EXPECT_EQ(FakeChatServer::header(first, "Expect"), "<absent>");
    EXPECT_LT(headerIndex(first, "Authorization"), headerIndex(first, "Content-Type"));
    EXPECT_EQ(FakeChatServer::header(sent[1], "Authorization"), "<absent>");
    EXPECT_EQ(sent[3]["method"], "GET");
    EXPECT_EQ(sent[3]["path"], "/big?x=1");
    EXPECT_EQ(sent[5]["method"], "DELETE");
    EXPECT_EQ(FakeChatServer::header(sent[5], "X-Trace"), "1");
    EXPECT_EQ(FakeChatServer::header(sent[5], "Injected"), "<absent>");
}

TEST_F(HttpTransportTest, FailuresComeBackAsText) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/v1/chat/completions";
    HttpResponse r = postJson(refused, "{}", {}, 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.error, "request failed (WinINet error 7)");

    for (const std::string& url :
         {std::string(""), std::string("not a url"), std::string("ftp://127.0.0.1/x"),
          std::string("file:///etc/passwd"), std::string("http://") + std::string(300, 'h') + "/v1",
          "http://127.0.0.1/" + std::string(3000, 'p'), std::string("http://127.0.0.1:1/a b")}) {
        r = httpRequest("GET", url, "", {}, 5);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.error, "bad URL: " + url);
    }

    FakeChatServer server(json::array({{{"drop", true}}}));
    if (!server.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error.rfind("request failed (WinINet error ", 0), 0u);
    EXPECT_EQ(r.error.back(), ')');

    const HttpTransportFn platform = httpTransport();
    setHttpTransport(nullptr);
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 5);
    setHttpTransport(platform);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "no HTTP client on this platform");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(HttpTransportTest, TimeOutEndsAWaitForAnAnswer) {
    FakeChatServer server(json::array({{{"delay", 6}}, {{"delay", 1}, {"body", "late"}}}));
    if (!server.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    const auto start = std::chrono::steady_clock::now();
    HttpResponse r = postJson(server.url("/v1/chat/completions"), "{}", {}, 1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.error, "request failed (WinINet error 28)");
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 4.0);
    EXPECT_EQ(server.requests().size(), 1u);  // connected, then waited in vain

    // A time-out of 0 sets none: a slow answer still arrives.
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 0);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "late");
}

TEST_F(HttpTransportTest, ProxyFromEnvironment) {
    FakeChatServer proxy(json::array({{{"body", "via proxy"}}}));
    if (!proxy.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    unsetenv("no_proxy");
    setenv("http_proxy", proxy.url().c_str(), 1);
    HttpResponse r = postJson("http://models.example.invalid/v1/chat/completions", "{}", {}, 5);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "via proxy");
    const json sent = proxy.requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["path"], "http://models.example.invalid/v1/chat/completions");
}
