// Configuration view: every configurable part of the library reads its keys through a ParamCfg.
// A view adds a key prefix to an underlying configuration; the storage classes of the base
// library (DatabaseJsonMem, DatabaseOrdered) derive from it and answer the two lookups themselves.
// Every value is a list of strings; typed reads convert with boost::lexical_cast.
#pragma once

#include <glog/logging.h>

#include <boost/lexical_cast.hpp>
#include <memory>
#include <string>
#include <vector>

// Thread-safe for reading: accessors are const and take no lock.
class ParamCfg : public std::enable_shared_from_this<ParamCfg> {
 public:
  // A view of `underlying` whose keys are `prefix` followed by the caller's key (no separator).
  ParamCfg(std::shared_ptr<const ParamCfg> underlying, std::string prefix)
      : underlying_(std::move(underlying)), prefix_(std::move(prefix)) {
    CHECK(underlying_ != nullptr) << "a configuration view needs an underlying configuration";
  }

  // Names of the children of `key`, in storage order. A missing key gives an empty list.
  virtual std::vector<std::string> subkeys(const std::string& key, bool flag) const {
    return underlying()->subkeys(prefix_ + key, flag);
  }
  virtual ~ParamCfg() = default;
  virtual std::shared_ptr<const ParamCfg> underlying() const { return underlying_; }
  // All values stored under `key`, or `defaults` when there are none.
  virtual std::vector<std::string> select_multi_local(const std::string& key, bool flag,
                                                      const std::vector<std::string>& defaults) const {
    return underlying()->select_multi_local(prefix_ + key, flag, defaults);
  }

  // The single value of `key`. With exactOneValue, anything but exactly one value is fatal;
  // otherwise a key without exactly one value gives `def`.
  std::string select_single(const std::string& key, bool exactOneValue, const std::string& def) const {
    std::vector<std::string> value = select_multi_local(key, false, {});
    CHECK(! (exactOneValue && value.size() != 1)) << key << ": " << join(value);
    return value.size() == 1 ? value[0] : def;
  }
  std::string select_single(const std::string& key, bool exactOneValue, const char* def) const {
    return select_single(key, exactOneValue, std::string(def));
  }

  // Typed single value (bool is written "0" or "1"). A value that does not convert is fatal.
  template <typename T>
  T select_single(const std::string& key, bool exactOneValue, T def) const {
    std::vector<std::string> value = select_multi_local(key, false, {});
    CHECK(! (exactOneValue && value.size() != 1)) << key << ": " << join(value);
    if (value.size() != 1) return def;
    return convert<T>(key, value, value[0]);
  }

  // Typed list; `defaults` when the key has no values. A value that does not convert is fatal.
  template <typename T>
  std::vector<T> select_multi(const std::string& key, bool flag, const std::vector<T>& defaults) const {
    std::vector<std::string> value = select_multi_local(key, flag, {});
    if (value.empty()) return defaults;
    std::vector<T> result;
    result.reserve(value.size());
    for (const std::string& v : value) result.push_back(convert<T>(key, value, v));
    return result;
  }

  static std::string join(const std::vector<std::string>& values, const char* sep = ", ") {
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += sep;
      out += values[i];
    }
    return out;
  }

 protected:
  // For storage classes, which answer the lookups themselves.
  ParamCfg() = default;

 private:
  template <typename T>
  static T convert(const std::string& key, const std::vector<std::string>& values, const std::string& v) {
    try {
      return boost::lexical_cast<T>(v);
    } catch (const boost::bad_lexical_cast& e) {
      LOG(FATAL) << key << " -> " << join(values) << ": " << e.what();
    }
    return T();
  }

  std::shared_ptr<const ParamCfg> underlying_;
  std::string prefix_;
};
