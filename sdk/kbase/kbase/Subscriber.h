// Subscribing sockets of the base library: a ZeroMQ SUB socket (`Subscriber`) and a nanomsg SUB
// socket (`NNSubscriber`), the process-wide ZeroMQ context and message objects. Frame readers use
// them to receive frames that another process publishes.
#pragma once

#include <memory>
#include <string>

namespace zmq {
class context_t;
class multipart_t;
class socket_t;
}  // namespace zmq

// Where a subscriber listens: `addr` is a transport address ("ipc:///tmp/x", "tcp://127.0.0.1:5555",
// "inproc://x" for ZeroMQ); `asClient` connects to a publisher that binds, otherwise the subscriber
// binds and publishers connect; `name` only labels log lines.
struct SubscriberParameter {
  std::string addr;
  bool asClient = true;
  std::string name;
};

// ZeroMQ subscriber to every topic. Not thread-safe; one owner at a time (ZeroMQ sockets belong to
// one thread). A bad address or a failed bind/connect throws zmq::error_t at construction.
class Subscriber {
 public:
  using Parameter = SubscriberParameter;

  Subscriber(const std::shared_ptr<zmq::context_t>& context, const Parameter& param);
  ~Subscriber();
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  // Blocks until one whole message (all its parts) arrives and replaces `msg` with it. Returns false
  // when the wait is interrupted, times out (set_receive_timeout) or the context is terminated.
  bool receive(zmq::multipart_t& msg);
  // Receive timeout in milliseconds; -1 (the default) waits for ever.
  void set_receive_timeout(int ms);
  const Parameter& parameter() const { return param_; }

 private:
  Parameter param_;
  std::shared_ptr<zmq::context_t> context_;  // outlives socket_
  std::unique_ptr<zmq::socket_t> socket_;
};

// nanomsg subscriber to every topic. Not thread-safe; one owner at a time. Its receive buffer is
// large (nanomsg's PUB/SUB drops messages silently when a subscriber's buffer is full). A bad address
// or a failed bind/connect throws std::runtime_error at construction.
class NNSubscriber {
 public:
  using Parameter = SubscriberParameter;

  explicit NNSubscriber(const Parameter& param);
  ~NNSubscriber();
  NNSubscriber(const NNSubscriber&) = delete;
  NNSubscriber& operator=(const NNSubscriber&) = delete;

  // Blocks until one message arrives and copies at most `capacity` bytes of it into `buffer`.
  // Returns the message's whole length, which exceeds `capacity` when the message was truncated,
  // or -1 on failure (interrupted, timed out, socket closed).
  long receive(void* buffer, size_t capacity);
  // Receive timeout in milliseconds; -1 (the default) waits for ever.
  void set_receive_timeout(int ms);
  const Parameter& parameter() const { return param_; }

 private:
  Parameter param_;
  int socket_ = -1;
};

// The process-wide ZeroMQ context (one I/O thread), built on first use and kept until exit.
std::shared_ptr<zmq::context_t> singleton_ZmqContext();
// A new, empty message.
std::shared_ptr<zmq::multipart_t> produce_ZmqMessage();
