// One vqsrv process and one SQLite data source shared by the tests of a
// suite (starting a server per test would only cost time).
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"

namespace vqtest {

template <int kDebugLevel>
class ServerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    source_ = std::make_unique<SqliteSource>();
    server_ = std::make_unique<VqsrvProcess>(source_->OdbcIni(), kDebugLevel);
  }
  static void TearDownTestSuite() {
    server_.reset();
    source_.reset();
  }

  static const VqsrvProcess& Server() { return *server_; }
  static const std::string& Dsn() { return source_->Dsn(); }
  static const SqliteSource& Source() { return *source_; }

  // The reply of "query", which must be a JSON string.
  static std::string Query(const std::string& sql, int p3, const std::string& dsn = "") {
    const auto doc = server_->Call(QueryRequest(dsn.empty() ? Dsn() : dsn, sql, p3));
    if (!doc.IsString()) {
      ADD_FAILURE() << "query reply is no string: " << sql;
      return "<no string>";
    }
    return std::string(doc.GetString(), doc.GetStringLength());
  }
  // The whole reply body of "open".
  static std::string OpenBody(const std::string& dsn) {
    const HttpAnswer reply = server_->Post(OpenRequest(dsn));
    EXPECT_EQ(reply.status, 200u) << reply.body;
    return reply.body;
  }
  // The reply of "querydbg" (a JSON object when the service works).
  static rapidjson::Document QueryDbg(const std::string& sql, const std::string& dsn = "") {
    return server_->Call(QueryDbgRequest(dsn.empty() ? Dsn() : dsn, sql));
  }

 private:
  static inline std::unique_ptr<SqliteSource> source_;
  static inline std::unique_ptr<VqsrvProcess> server_;
};

}  // namespace vqtest
