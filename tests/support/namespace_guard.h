#pragma once
// Keeps tests that start real engines off the host network: the test process
// moves into a network namespace of its own in which only loopback exists.

#include <string>

namespace orlin::testsupport {

// Moves the calling thread, and every process it starts from then on, into a
// new network namespace and brings its loopback interface up. Call it from
// the thread that starts the engines (GoogleTest runs tests on the main
// thread) before starting them. Idempotent within one thread. Returns false
// with `reason` filled where namespaces are not permitted (not root, no
// CLONE_NEWNET, another system).
bool JoinPrivateNetworkNamespace(std::string* reason = nullptr);

}  // namespace orlin::testsupport

// For a test body: skips the test, saying why, when the private network
// cannot be had. Never lets such a test pass without running.
#define ORLIN_REQUIRE_PRIVATE_NETWORK()                                                   \
  do {                                                                                    \
    std::string orlin_netns_reason;                                                       \
    if (!::orlin::testsupport::JoinPrivateNetworkNamespace(&orlin_netns_reason)) {        \
      GTEST_SKIP() << "needs a private network namespace to run the engine: "             \
                   << orlin_netns_reason;                                                 \
    }                                                                                     \
  } while (0)
