// Frame messages as a sender puts them on the wire, written byte by byte from the wire format (not
// through the library's own structs), and a ZeroMQ publisher that waits for its subscriber.
#pragma once

#include <unistd.h>

#include <cstring>
#include <string>
#include <zmq.hpp>

#include "kbase/Subscriber.h"

namespace framemsg {

inline std::string ipc(const std::string& what) {
  return "ipc:///tmp/kavo-test-" + what + std::to_string(getpid());
}

template <typename T>
void put(std::string& s, size_t at, T v) {
  std::memcpy(&s[at], &v, sizeof v);
}

inline std::string be32(unsigned int v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// Camera envelope: frame type, records, extra bytes (lengths big-endian).
inline std::string camera(unsigned int type, const std::string& records, const std::string& extra) {
  return be32(type) + be32(records.size()) + records + be32(extra.size()) + extra;
}

// One 272-byte MI_SYS_BufInfo_t record of an NV12 frame with contiguous planes at `phy`.
inline std::string record(unsigned long long pts, int w, int h, unsigned long long phy,
                          unsigned int type = 1) {
  std::string r(272, '\0');
  put<unsigned long long>(r, 0, pts);
  put<unsigned int>(r, 16, type);
  put<unsigned int>(r, 36, 11);  // NV12
  put<unsigned short>(r, 52, static_cast<unsigned short>(w));
  put<unsigned short>(r, 54, static_cast<unsigned short>(h));
  put<unsigned long long>(r, 80, phy);
  put<unsigned long long>(r, 88, phy + static_cast<unsigned long long>(w) * h);
  put<unsigned int>(r, 104, static_cast<unsigned int>(w));
  put<unsigned int>(r, 108, static_cast<unsigned int>(w));
  return r;
}

// Video message: 12-byte header and `payload` bytes counting up from 0.
inline std::string video(unsigned int magic, unsigned char type, int w, int h, size_t payload) {
  std::string m(12 + payload, '\0');
  put<unsigned int>(m, 0, magic);
  m[4] = static_cast<char>(type);
  put<unsigned short>(m, 8, static_cast<unsigned short>(w));
  put<unsigned short>(m, 10, static_cast<unsigned short>(h));
  for (size_t i = 0; i < payload; ++i) m[12 + i] = static_cast<char>(i);
  return m;
}

// A bound XPUB: joined() returns once a subscriber's subscription has arrived, so that nothing
// published afterwards is lost.
struct Publisher {
  explicit Publisher(const std::string& addr) : pub(*singleton_ZmqContext(), zmq::socket_type::xpub) {
    pub.set(zmq::sockopt::linger, 0);
    pub.bind(addr);
  }
  bool joined() {
    zmq::message_t subscription;
    return static_cast<bool>(pub.recv(subscription));
  }
  void send(const std::string& m) { pub.send(zmq::buffer(m), zmq::send_flags::none); }
  zmq::socket_t pub;
};

}  // namespace framemsg
