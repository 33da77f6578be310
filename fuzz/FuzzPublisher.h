// An in-process ZeroMQ publisher for the frame-reader targets: the reader under test subscribes
// over inproc, so every input travels the same receive path as a message from another process.
#pragma once

#include <cerrno>
#include <string>
#include <zmq.hpp>

#include "kbase/Subscriber.h"

namespace fuzz {

class Publisher {
 public:
  explicit Publisher(const std::string& addr) : pub_(*singleton_ZmqContext(), zmq::socket_type::xpub) {
    pub_.set(zmq::sockopt::linger, 0);
    pub_.bind(addr);
  }
  // Returns once a subscription has arrived: nothing sent afterwards is lost.
  void wait_joined() {
    zmq::message_t subscription;
    (void)pub_.recv(subscription);
  }
  // libFuzzer's timers interrupt system calls: retried, never a finding.
  void send(const void* data, size_t size) {
    for (;;) {
      try {
        pub_.send(zmq::const_buffer(data, size), zmq::send_flags::none);
        return;
      } catch (const zmq::error_t& e) {
        if (e.num() != EINTR) throw;
      }
    }
  }
  void send(const std::string& m) { send(m.data(), m.size()); }

 private:
  zmq::socket_t pub_;
};

}  // namespace fuzz
