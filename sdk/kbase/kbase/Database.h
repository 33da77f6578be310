// Configuration storage of the base library: JSON files held in memory as lists of strings under
// slash-separated keys, an ordered printable copy of any view, and the process-wide configuration.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ParamCfg.h"

// JSON-backed storage. Nested objects are key levels joined with "/"; a scalar is a one-element list,
// an array a list, null an empty list; every value is kept as the text written in the file.
// Not thread-safe for writing: load and store before sharing; reads are const and lock-free.
class DatabaseJsonMem : public ParamCfg {
 public:
  DatabaseJsonMem();
  ~DatabaseJsonMem() override;

  // Replaces the contents with the JSON file at `path` (opened first when `encrypt`: sealed with
  // key `keyId` of the keyring, see kbase/Decrypt.h). Returns false and keeps the previous contents
  // on failure; error() tells why, naming the file (and the key id when opening failed).
  bool load(const std::string& path, bool encrypt, int keyId);
  // Same as load, from JSON text.
  bool load_text(const std::string& text);
  const std::string& error() const { return error_; }

  std::vector<std::string> subkeys(const std::string& key, bool flag) const override;
  std::vector<std::string> select_multi_local(const std::string& key, bool flag,
                                              const std::vector<std::string>& defaults) const override;
  // Sets the list of `key` (creating the key and its parents as needed). The flag is unused.
  virtual void store_multi_local(const std::string& key, const std::vector<std::string>& values, bool flag);

  struct Node {
    bool hasValue = false;              // a scalar, array or null was written here
    std::vector<std::string> values;    // its values, as written
    std::vector<std::string> children;  // names of the child keys, in file order
  };

 private:
  std::unordered_map<std::string, Node> nodes_;  // full key -> node; "" is the root
  std::string error_;
};

// An ordered snapshot of a configuration view: print() lists every key with values, sorted by key,
// one "key: v1, v2" line each. Thread-safe (immutable after construction).
class DatabaseOrdered : public ParamCfg {
 public:
  explicit DatabaseOrdered(const std::shared_ptr<const ParamCfg>& cfg);

  std::string print() const;
  std::vector<std::string> subkeys(const std::string& key, bool flag) const override;
  std::vector<std::string> select_multi_local(const std::string& key, bool flag,
                                              const std::vector<std::string>& defaults) const override;

 private:
  void collect(const ParamCfg& cfg, const std::string& key);

  std::map<std::string, std::vector<std::string>> values_;    // keys with values
  std::map<std::string, std::vector<std::string>> children_;  // keys with children
};

// The process-wide configuration, loaded on first use from the file named by KAVO_CONFIG, else
// <installation root>/config/kavo.json. A missing or malformed file is fatal. Never null.
std::shared_ptr<const ParamCfg> singleton_ParamCfg();
// Installs the application's own configuration; later singleton_ParamCfg() calls return it.
void install_ParamCfg(std::shared_ptr<const ParamCfg> cfg);
