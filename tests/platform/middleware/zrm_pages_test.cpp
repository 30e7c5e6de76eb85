// Pages a server publishes: served on GET with their headers, under the
// token unless open, off with ZRM_CONSOLE=0, gone with their server.
#include <gtest/gtest.h>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "platform/middleware/zrm_pages.h"
#include "tests/support/http_client.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using boost::beast::http::verb;
using vqtest::HttpAnswer;
using vqtest::HttpClient;
using zrm_test::Running;
using zrm_test::Vars;

const std::string kToken = "page-Token-1";

void Publish(Running& run) {
  run.server.PublishPage("/", "text/html; charset=utf-8", "<!DOCTYPE html><p>hi</p>", true);
  run.server.PublishPage("/data.json", "application/json", R"({"names":["a"]})", false);
}

void ExpectPageHeaders(const HttpAnswer& a) {
  EXPECT_EQ(a.fields.at("Content-Security-Policy"), "default-src 'self'");
  EXPECT_EQ(a.fields.at("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(a.fields.at("Referrer-Policy"), "no-referrer");
  EXPECT_EQ(a.fields.at("X-Frame-Options"), "DENY");
}

TEST(ZrmPages, ServedWithTheirTypeAndHeaders) {
  Running run(Vars{});
  Publish(run);
  HttpClient c(run.Address());
  auto a = c.Send(verb::get, "/", "");
  EXPECT_EQ(a.status, 200u);
  EXPECT_EQ(a.body, "<!DOCTYPE html><p>hi</p>");
  EXPECT_EQ(a.content_type, "text/html; charset=utf-8");
  ExpectPageHeaders(a);
  EXPECT_TRUE(a.keep_alive);
  a = c.Send(verb::get, "/data.json?x=1", "");  // a query does not change the page
  EXPECT_EQ(a.status, 200u);
  EXPECT_EQ(a.body, R"({"names":["a"]})");
  EXPECT_EQ(a.content_type, "application/json");
  ExpectPageHeaders(a);

  a = c.Post("/", "{}");
  EXPECT_EQ(a.status, 405u);
  EXPECT_EQ(a.fields.at("Allow"), "GET");
  // Service answers carry none of the page headers, and the service still answers.
  a = c.Post("/svc", R"({"M":"echo","P1":"x"})");
  EXPECT_EQ(a.body, "\"x\"");
  EXPECT_EQ(a.fields.count("Content-Security-Policy"), 0u);
  EXPECT_EQ(c.Send(verb::get, "/other", "").status, 404u);

  // Replacing a page by its own server.
  run.server.PublishPage("/", "text/plain", "two", true);
  a = c.Send(verb::get, "/", "");
  EXPECT_EQ(a.body, "two");
  EXPECT_EQ(a.content_type, "text/plain");
}

TEST(ZrmPages, TokenHoldsExceptForOpenPages) {
  Running run(Vars{{"ZRM_TOKEN", kToken}});
  Publish(run);
  HttpClient c(run.Address());
  EXPECT_EQ(c.Send(verb::get, "/", "").status, 200u);
  auto a = c.Send(verb::get, "/data.json", "");
  EXPECT_EQ(a.status, 401u);
  EXPECT_EQ(a.www_authenticate, "Bearer");
  EXPECT_EQ(c.Send(verb::get, "/data.json", "", {{"Authorization", "Bearer wrong"}}).status, 401u);
  a = c.Send(verb::get, "/data.json", "", {{"Authorization", "Bearer " + kToken}});
  EXPECT_EQ(a.status, 200u);
  ExpectPageHeaders(a);
  // An open page does not open anything else.
  EXPECT_EQ(c.Send(verb::get, "/other", "").status, 401u);
  EXPECT_EQ(c.Post("/svc", R"({"M":"echo","P1":"x"})").status, 401u);
}

TEST(ZrmPages, SwitchedOffAnswer404) {
  Running run(Vars{{"ZRM_CONSOLE", "0"}});
  Publish(run);
  HttpClient c(run.Address());
  EXPECT_EQ(c.Send(verb::get, "/", "").status, 404u);
  EXPECT_EQ(c.Send(verb::get, "/data.json", "").status, 404u);
  EXPECT_EQ(c.Post("/svc", R"({"M":"echo","P1":"x"})").body, "\"x\"");

  EXPECT_THROW(ZRM_ParseConfig([](const char* name) -> const char* {
                 return std::string(name) == "ZRM_CONSOLE" ? "2" : nullptr;
               }),
               ZR_EException);
}

TEST(ZrmPages, PathsThatCannotBePublished) {
  Running run(Vars{});
  for (const char* path : {"", "page", "/healthz", "/readyz", "/metrics", "/a?b"})
    EXPECT_THROW(run.server.PublishPage(path, "text/plain", "x", true), ZR_EException) << path;
  EXPECT_THROW(run.server.PublishPage("/x", "text/plain\r\nSet-Cookie: a=b", "x", true),
               ZR_EException);
  zrm_test::TestServer unbound;
  EXPECT_THROW(unbound.PublishPage("/x", "text/plain", "x", true), ZR_EException);
  // The operational paths keep answering as before.
  HttpClient c(run.Address());
  EXPECT_EQ(c.Send(verb::get, "/healthz", "").body, R"({"status":"ok"})");
}

TEST(ZrmPages, OwnedByTheirServer) {
  Running run(Vars{});
  Publish(run);
  {
    zrm_test::TestServer other;
    other.Bind(ZR_TString("other"), 1, 0, false);
    EXPECT_THROW(other.PublishPage("/", "text/plain", "mine", true), ZR_EException);
    other.PublishPage("/other.txt", "text/plain", "other's", true);
    EXPECT_EQ(HttpClient(run.Address()).Send(verb::get, "/other.txt", "").body, "other's");
  }
  // Its pages went with its binding; the first server's stay.
  HttpClient c(run.Address());
  EXPECT_EQ(c.Send(verb::get, "/other.txt", "").status, 404u);
  EXPECT_EQ(c.Send(verb::get, "/", "").status, 200u);
}

}  // namespace
