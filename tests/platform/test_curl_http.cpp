#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "assistant/http.h"
#include "fixtures/fake_chat_server.h"
#include "platform/platform.h"

using namespace nl;
using nlohmann::json;
using nltest::FakeChatServer;

namespace {

// Requests to the loopback server must not wander off to a proxy of the
// machine's; a test that wants a proxy sets one itself.
class Http : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"}) {
            if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
            unsetenv(name);
        }
        if (const char* v = std::getenv("no_proxy")) saved_.emplace_back("no_proxy", v);
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        registerPlatformServices();
    }
    void TearDown() override {
        unsetenv("no_proxy");
        unsetenv("http_proxy");
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved_;
};

}  // namespace

TEST_F(Http, BodiesAndHeadersPassUnchanged) {
    const std::string big(5 << 20, 'z');
    FakeChatServer server(
        json::array({{{"body", big}}, {{"body", "0123456789"}, {"truncate", true}}, {{"status", 204}, {"body", ""}}}));
    if (!server.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    const std::string request = R"({"messages":[],"model":"m"})";
    HttpResponse r = postJson(server.url("/v1/chat/completions?x=1"), request, {"Authorization: Bearer sk-1"}, 10);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body == big) << r.body.size();
    EXPECT_EQ(r.error, "");
    r = httpRequest("GET", server.url("/cut"), "", {}, 10);  // cut short: what arrived is kept, no error
    EXPECT_EQ(r.body + "|" + r.error, "01234|");
    r = httpRequest("DELETE", server.url("/empty"), "", {"X-Trace: 1\r\nInjected: yes"}, 10);
    EXPECT_EQ(r.status, 204);

    const json sent = server.requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0]["method"].get<std::string>() + " " + sent[0]["path"].get<std::string>(),
              "POST /v1/chat/completions?x=1");
    EXPECT_EQ(sent[0]["body"], request);
    for (const auto& [name, value] : {std::pair{"User-Agent", "Netloom/1.0"},
                                      {"Authorization", "Bearer sk-1"},
                                      {"Content-Type", "application/json"},
                                      {"Expect", "<absent>"}})
        EXPECT_EQ(FakeChatServer::header(sent[0], name), value) << name;
    EXPECT_EQ(sent[2]["method"], "DELETE");
    EXPECT_EQ(FakeChatServer::header(sent[2], "X-Trace"), "1");
    EXPECT_EQ(FakeChatServer::header(sent[2], "Injected"), "<absent>");
}

TEST_F(Http, FailuresComeBackAsText) {
    HttpResponse r = postJson("http://127.0.0.1:1/v1/chat/completions", "{}", {}, 5);  // nothing listens there
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "connection refused");

    for (const std::string& url : {std::string("not a url"), std::string("file:///etc/passwd"),
                                   "http://" + std::string(300, 'h') + "/v1", std::string("http://127.0.0.1:1/a b")}) {
        r = httpRequest("GET", url, "", {}, 5);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.error, "bad URL: " + url);
    }

    FakeChatServer server(json::array({{{"drop", true}}, {{"body", std::string((32 << 20) + 1, 'b')}}}));
    if (!server.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "connection closed before the reply was complete");
    // A reply no chat answer comes near in size is a failure, not a cut body.
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 20);
    EXPECT_EQ(r.status + r.body.size(), 0u);
    EXPECT_EQ(r.error, "the reply is larger than 32 MB");

    const HttpTransportFn platform = httpTransport();
    setHttpTransport(nullptr);
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 5);
    setHttpTransport(platform);
    EXPECT_EQ(r.error, "no HTTP client on this platform");
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(Http, TimeOutEndsTheWaitAndZeroSetsNone) {
    FakeChatServer server(json::array({{{"delay", 6}}, {{"delay", 1}, {"body", "late"}}}));
    if (!server.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    const auto start = std::chrono::steady_clock::now();
    HttpResponse r = postJson(server.url("/v1/chat/completions"), "{}", {}, 1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "timed out");
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 4.0);
    r = postJson(server.url("/v1/chat/completions"), "{}", {}, 0);
    EXPECT_EQ(r.body, "late");
}

TEST_F(Http, ProxyFromEnvironment) {
    FakeChatServer proxy(json::array({{{"body", "via proxy"}}}));
    if (!proxy.running()) GTEST_SKIP() << "python3 is needed for the loopback server";
    unsetenv("no_proxy");
    setenv("http_proxy", proxy.url().c_str(), 1);
    EXPECT_EQ(postJson("http://models.example.invalid/v1/chat/completions", "{}", {}, 5).body, "via proxy");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0]["path"], "http://models.example.invalid/v1/chat/completions");
}
