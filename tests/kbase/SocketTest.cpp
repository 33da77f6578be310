// Subscribing sockets against real publishers.
#include <nanomsg/nn.h>
#include <nanomsg/pubsub.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <zmq.hpp>
#include <zmq_addon.hpp>

#include "gtest/gtest.h"
#include "kbase/Subscriber.h"

namespace {
std::string ipc(const char* what) {
  return "ipc:///tmp/kavo-kbase-" + std::string(what) + std::to_string(getpid());
}
}  // namespace

TEST(SubscriberTest, ReceivesWholeMultipartMessagesBoundOrConnected) {
  for (const bool asClient : {true, false}) {
    SCOPED_TRACE(asClient);
    const std::string addr = ipc(asClient ? "zc" : "zb");
    zmq::socket_t pub(*singleton_ZmqContext(), zmq::socket_type::pub);
    pub.set(zmq::sockopt::linger, 0);
    if (asClient) pub.bind(addr);
    Subscriber sub(singleton_ZmqContext(), {addr, asClient, "test"});
    if (!asClient) pub.connect(addr);
    sub.set_receive_timeout(10);
    auto msg = produce_ZmqMessage();
    // Publish until the subscription has reached the publisher (nothing is queued before it).
    do {
      zmq::multipart_t out;
      out.addstr("frame");
      out.addstr("");
      out.send(pub);
    } while (!sub.receive(*msg));
    ASSERT_EQ(msg->size(), 2u);
    EXPECT_EQ(msg->at(0).to_string(), "frame");
  }
}

TEST(NNSubscriberTest, ReportsTheWholeLengthOfATruncatedMessage) {
  const std::string addr = ipc("nn");
  NNSubscriber sub({addr, false, "test"});
  const int pub = nn_socket(AF_SP, NN_PUB);
  ASSERT_GE(nn_connect(pub, addr.c_str()), 0);
  const std::string text(100, 'x');
  char buffer[64] = {};
  std::atomic<bool> received{false};
  // nanomsg has no subscription handshake: publish until the subscriber has one.
  std::thread sender([&] {
    while (!received) {
      nn_send(pub, text.data(), text.size(), NN_DONTWAIT);
      usleep(1000);
    }
  });
  const long n = sub.receive(buffer, sizeof buffer);
  received = true;
  sender.join();
  nn_close(pub);
  EXPECT_EQ(n, 100);
  EXPECT_EQ(std::string(buffer, 64), text.substr(0, 64));
  sub.set_receive_timeout(1);
  long more = 0;  // the prober may have published more; then the timeout ends the wait
  while ((more = sub.receive(buffer, sizeof buffer)) == 100) {
  }
  EXPECT_EQ(more, -1);
  EXPECT_THROW(NNSubscriber({"nosuch://x", true, "bad"}), std::runtime_error);
}
