// Subscribing sockets over ZeroMQ (cppzmq) and nanomsg.
#include "kbase/Subscriber.h"

#include <glog/logging.h>
#include <nanomsg/nn.h>
#include <nanomsg/pubsub.h>

#include <stdexcept>
#include <zmq.hpp>
#include <zmq_addon.hpp>

namespace {
// Large enough for a burst of whole 1080p NV12 frames: nanomsg's PUB/SUB drops what does not fit.
constexpr int kNanomsgReceiveBuffer = 64 << 20;
// nanomsg refuses messages larger than this on receive (its default is 1 MiB).
constexpr int kNanomsgMaxMessage = 64 << 20;
}  // namespace

Subscriber::Subscriber(const std::shared_ptr<zmq::context_t>& context, const Parameter& param)
    : param_(param),
      context_(context),
      socket_(std::make_unique<zmq::socket_t>(*context_, zmq::socket_type::sub)) {
  socket_->set(zmq::sockopt::subscribe, "");
  socket_->set(zmq::sockopt::rcvhwm, 0);  // keep every frame; the reader decides what to drop
  socket_->set(zmq::sockopt::linger, 0);
  if (param_.asClient)
    socket_->connect(param_.addr);
  else
    socket_->bind(param_.addr);
  LOG(INFO) << "Subscriber " << param_.name << (param_.asClient ? " connected to " : " bound to ")
            << param_.addr;
}

Subscriber::~Subscriber() = default;

bool Subscriber::receive(zmq::multipart_t& msg) {
  try {
    return msg.recv(*socket_);
  } catch (const zmq::error_t& e) {
    LOG(ERROR) << "Subscriber " << param_.name << " receive failed: " << e.what();
    return false;
  }
}

void Subscriber::set_receive_timeout(int ms) { socket_->set(zmq::sockopt::rcvtimeo, ms); }

NNSubscriber::NNSubscriber(const Parameter& param) : param_(param) {
  socket_ = nn_socket(AF_SP, NN_SUB);
  if (socket_ < 0) throw std::runtime_error(std::string("nn_socket: ") + nn_strerror(nn_errno()));
  nn_setsockopt(socket_, NN_SUB, NN_SUB_SUBSCRIBE, "", 0);
  int size = kNanomsgReceiveBuffer;
  nn_setsockopt(socket_, NN_SOL_SOCKET, NN_RCVBUF, &size, sizeof(size));
  size = kNanomsgMaxMessage;
  nn_setsockopt(socket_, NN_SOL_SOCKET, NN_RCVMAXSIZE, &size, sizeof(size));
  const int endpoint =
      param_.asClient ? nn_connect(socket_, param_.addr.c_str()) : nn_bind(socket_, param_.addr.c_str());
  if (endpoint < 0) {
    const std::string what = std::string(param_.asClient ? "nn_connect " : "nn_bind ") + param_.addr + ": " +
                             nn_strerror(nn_errno());
    nn_close(socket_);
    throw std::runtime_error(what);
  }
  LOG(INFO) << "NNSubscriber " << param_.name << (param_.asClient ? " connected to " : " bound to ")
            << param_.addr;
}

NNSubscriber::~NNSubscriber() { nn_close(socket_); }

long NNSubscriber::receive(void* buffer, size_t capacity) {
  const int n = nn_recv(socket_, buffer, capacity, 0);
  if (n < 0) {
    LOG_EVERY_N(ERROR, 100) << "NNSubscriber " << param_.name
                            << " receive failed: " << nn_strerror(nn_errno());
    return -1;
  }
  return n;
}

void NNSubscriber::set_receive_timeout(int ms) {
  nn_setsockopt(socket_, NN_SOL_SOCKET, NN_RCVTIMEO, &ms, sizeof(ms));
}

std::shared_ptr<zmq::context_t> singleton_ZmqContext() {
  static const std::shared_ptr<zmq::context_t> context = std::make_shared<zmq::context_t>(1);
  return context;
}

std::shared_ptr<zmq::multipart_t> produce_ZmqMessage() { return std::make_shared<zmq::multipart_t>(); }
