// Captures glog lines of one severity or more while in scope, for tests that check log output.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

class LogCapture : public google::LogSink {
 public:
  explicit LogCapture(google::LogSeverity minSeverity = google::GLOG_INFO) : minSeverity_(minSeverity) {
    google::AddLogSink(this);
  }
  ~LogCapture() override { google::RemoveLogSink(this); }

  void send(google::LogSeverity severity, const char*, const char*, int, const google::LogMessageTime&,
            const char* message, size_t length) override {
    if (severity < minSeverity_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(message, length);
  }

  int count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : lines_) n += l.find(text) != std::string::npos;
    return n;
  }

 private:
  const google::LogSeverity minSeverity_;
  mutable std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};
