#include "kbase/Database.h"

#include <glog/logging.h>

#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "kbase/Path.h"

namespace {

std::string strip_slashes(const std::string& key) {
  size_t end = key.size();
  while (end > 0 && key[end - 1] == '/') --end;
  return key.substr(0, end);
}

std::string child_key(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

// Builds the key tree from SAX events so that numbers keep the text written in the file
// (a DOM would turn 0.50 into 0.5).
class TreeBuilder : public nlohmann::json::json_sax_t {
 public:
  explicit TreeBuilder(std::unordered_map<std::string, DatabaseJsonMem::Node>* nodes) : nodes_(nodes) {
    (*nodes_)[""];
  }

  bool null() override { return scalar(nullptr); }
  bool boolean(bool v) override { return scalar(v ? "true" : "false"); }
  bool number_integer(number_integer_t v) override { return scalar(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(std::to_string(v)); }
  bool number_float(number_float_t, const string_t& s) override { return scalar(s); }
  bool string(string_t& v) override { return scalar(v); }
  bool binary(binary_t&) override { return fail("binary values are not supported"); }

  bool start_object(std::size_t) override {
    if (inArray_) return fail("objects inside arrays are not supported at " + current_);
    if (depth_++ > 0) enter();
    return true;
  }
  bool key(string_t& k) override {
    if (k.empty() || k.find('/') != std::string::npos) return fail("invalid key name \"" + k + "\"");
    pending_ = k;
    return true;
  }
  bool end_object() override {
    if (--depth_ > 0) leave();
    return true;
  }
  bool start_array(std::size_t) override {
    if (inArray_) return fail("nested arrays are not supported at " + current_);
    if (depth_ == 0) return fail("the top level must be an object");
    enter();
    Node& n = (*nodes_)[current_];
    n.hasValue = true;
    n.values.clear();
    inArray_ = true;
    return true;
  }
  bool end_array() override {
    inArray_ = false;
    leave();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
    return fail(ex.what());
  }

  const std::string& error() const { return error_; }

 private:
  using Node = DatabaseJsonMem::Node;

  bool scalar(const char* text) { return scalar(text ? std::string(text) : std::string(), text == nullptr); }
  bool scalar(const std::string& text, bool isNull = false) {
    if (depth_ == 0) return fail("the top level must be an object");
    if (inArray_) {
      if (!isNull) (*nodes_)[current_].values.push_back(text);
      return true;
    }
    enter();
    Node& n = (*nodes_)[current_];
    n.hasValue = true;
    n.values.clear();
    if (!isNull) n.values.push_back(text);
    leave();
    return true;
  }
  // Descends into the pending key of the current object.
  void enter() {
    std::string full = child_key(current_, pending_);
    Node& parent = (*nodes_)[current_];
    if (nodes_->find(full) == nodes_->end()) parent.children.push_back(pending_);
    (*nodes_)[full];
    stack_.push_back(current_);
    current_ = full;
  }
  void leave() {
    current_ = stack_.back();
    stack_.pop_back();
  }
  bool fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  std::unordered_map<std::string, Node>* nodes_;
  std::vector<std::string> stack_;
  std::string current_;
  std::string pending_;
  std::string error_;
  int depth_ = 0;
  bool inArray_ = false;
};

}  // namespace

DatabaseJsonMem::DatabaseJsonMem() { nodes_[""]; }
DatabaseJsonMem::~DatabaseJsonMem() = default;

bool DatabaseJsonMem::load(const std::string& path, bool encrypt, int keyId) {
  auto contents = filebuffer::read(path);
  if (!contents) {
    error_ = path + ": cannot read the file";
    return false;
  }
  std::string text;
  std::string why;
  if (!encrypt) {
    text = *contents;
  } else if (!kavo_sym_open(*contents, keyId, &text, &why)) {
    error_ = path + ": cannot decrypt with " + why;
    return false;
  }
  if (!load_text(text)) {
    error_ = path + ": " + error_;
    return false;
  }
  return true;
}

bool DatabaseJsonMem::load_text(const std::string& text) {
  std::unordered_map<std::string, Node> nodes;
  TreeBuilder builder(&nodes);
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(text, &builder);
  } catch (const std::exception& e) {
    error_ = e.what();
    return false;
  }
  if (!ok) {
    error_ = builder.error().empty() ? "invalid JSON" : builder.error();
    return false;
  }
  nodes_.swap(nodes);
  error_.clear();
  return true;
}

std::vector<std::string> DatabaseJsonMem::subkeys(const std::string& key, bool flag) const {
  auto it = nodes_.find(strip_slashes(key));
  if (it == nodes_.end()) {
    LOG_IF(WARNING, flag) << "configuration key " << key << " does not exist";
    return {};
  }
  return it->second.children;
}

std::vector<std::string> DatabaseJsonMem::select_multi_local(const std::string& key, bool,
                                                             const std::vector<std::string>& defaults) const {
  auto it = nodes_.find(strip_slashes(key));
  if (it == nodes_.end() || it->second.values.empty()) return defaults;
  return it->second.values;
}

void DatabaseJsonMem::store_multi_local(const std::string& key, const std::vector<std::string>& values,
                                        bool) {
  std::string full = strip_slashes(key);
  // Create the parents, registering each level with its own parent.
  std::string parent;
  size_t start = 0;
  while (true) {
    size_t slash = full.find('/', start);
    std::string name = full.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::string path = child_key(parent, name);
    if (nodes_.find(path) == nodes_.end()) {
      nodes_[parent].children.push_back(name);
      nodes_[path];
    }
    if (slash == std::string::npos) break;
    parent = path;
    start = slash + 1;
  }
  Node& n = nodes_[full];
  n.hasValue = true;
  n.values = values;
}

DatabaseOrdered::DatabaseOrdered(const std::shared_ptr<const ParamCfg>& cfg) {
  CHECK(cfg != nullptr) << "DatabaseOrdered needs a configuration";
  collect(*cfg, "");
}

void DatabaseOrdered::collect(const ParamCfg& cfg, const std::string& key) {
  std::vector<std::string> values = cfg.select_multi_local(key, false, {});
  if (!values.empty()) values_[key] = values;
  std::vector<std::string> children = cfg.subkeys(key, false);
  if (!children.empty()) children_[key] = children;
  for (const std::string& c : children) collect(cfg, child_key(key, c));
}

std::string DatabaseOrdered::print() const {
  std::string out;
  for (const auto& [key, values] : values_) out += key + ": " + join(values) + "\n";
  return out;
}

std::vector<std::string> DatabaseOrdered::subkeys(const std::string& key, bool) const {
  auto it = children_.find(strip_slashes(key));
  return it == children_.end() ? std::vector<std::string>{} : it->second;
}

std::vector<std::string> DatabaseOrdered::select_multi_local(const std::string& key, bool,
                                                             const std::vector<std::string>& defaults) const {
  auto it = values_.find(strip_slashes(key));
  return it == values_.end() ? defaults : it->second;
}

namespace {
std::mutex gCfgMutex;                  // guards gCfg
std::shared_ptr<const ParamCfg> gCfg;  // the process-wide configuration, once loaded or installed
}  // namespace

std::shared_ptr<const ParamCfg> singleton_ParamCfg() {
  std::lock_guard<std::mutex> lock(gCfgMutex);
  if (!gCfg) {
    const char* env = std::getenv("KAVO_CONFIG");
    std::string path = env && *env ? env : GlobalPathCfg::get(0) + "/config/kavo.json";
    auto db = std::make_shared<DatabaseJsonMem>();
    if (!db->load(path, false, 0)) LOG(FATAL) << "cannot load the configuration " << db->error();
    LOG(INFO) << "configuration loaded from " << path;
    gCfg = db;
  }
  return gCfg;
}

void install_ParamCfg(std::shared_ptr<const ParamCfg> cfg) {
  CHECK(cfg != nullptr) << "install_ParamCfg needs a configuration";
  std::lock_guard<std::mutex> lock(gCfgMutex);
  gCfg = std::move(cfg);
}
