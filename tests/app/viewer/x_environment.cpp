// One Xvfb for the whole test executable, started before the first test and stopped after the
// last.
#include <memory>

#include <gtest/gtest.h>

#include "x_server.h"

namespace app::test {
namespace {

std::unique_ptr<XServer> shared_server;

class XServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    auto server = std::make_unique<XServer>();
    ASSERT_TRUE(server->start()) << server->error();
    shared_server = std::move(server);
  }
  void TearDown() override { shared_server.reset(); }
};

const ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new XServerEnvironment);

}  // namespace

const XServer* x_server() { return shared_server.get(); }

}  // namespace app::test
