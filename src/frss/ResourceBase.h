// The vocabulary of the frame resource store: every pipeline product (a frame's time stamp, an
// image, a tensor, a list of boxes) is a ResourceBase of a kind named by a one-bit 64-bit
// identifier; a frame's resources travel between the store and the stages as a
// MapResId2ResBasePtr, and fetches return them with their frame id.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

// Base of every stored resource. Not thread-safe; the store's pools move it between states under
// the store mutex, and a stage owns its payload while it holds the resource for writing.
class ResourceBase {
 public:
  ResourceBase(unsigned long long resId, std::string resName, std::string zone);
  ResourceBase(const ResourceBase&) = delete;
  ResourceBase& operator=(const ResourceBase&) = delete;

  // "Zone: " + zone + ", resName: " + resName + ", readCnt: " + readCnt.
  virtual std::string print() const;
  // Resets the payload before the resource is reused for a new frame. The base does nothing.
  virtual void clean_content();
  virtual ~ResourceBase();

  unsigned long long resId() const { return resId_; }
  const std::string& resName() const { return resName_; }
  const std::string& zone() const { return zone_; }
  // Read fetches since the resource was last published; -1 while it is being written.
  int32_t readCnt() const { return readCnt_; }
  void set_readCnt(int32_t readCnt) { readCnt_ = readCnt; }

 private:
  std::string zone_;
  unsigned long long resId_;
  std::string resName_;
  int32_t readCnt_ = -1;
};

using MapResId2ResBasePtr = std::unordered_map<unsigned long long, std::shared_ptr<ResourceBase>>;

// The entries of `m` whose identifiers lie wholly inside `resunion`; an identifier that lies partly
// inside is fatal.
MapResId2ResBasePtr pick(const MapResId2ResBasePtr& m, unsigned long long resunion);
// A copy of `a` with every entry of `b` added; a key present in both is fatal.
MapResId2ResBasePtr merge(const MapResId2ResBasePtr& a, const MapResId2ResBasePtr& b);

// Result of a coarse fetch: the chosen frame (-1: none) and the resources fetched from it.
struct CombFidMapResBase {
  std::string tag = "none";
  long long frameId = -1;
  MapResId2ResBasePtr mapRes;
};

// Result of a fetch by union: the chosen frame (-1: none), the resources fetched for reading and
// the empty resources claimed for writing in the same frame.
struct CombFidMapResBaseRW {
  std::string tag = "none";
  long long frameId = -1;
  MapResId2ResBasePtr mapRead;
  MapResId2ResBasePtr mapWrite;
};

// One line per entry: the kind's name (enum type "RESOURCE", zone "none") + ": " + print() + "\n".
std::string print_MapResId2ResBasePtr(const MapResId2ResBasePtr& m);
// "FrameId: " + frameId + "\n" + the map's print.
std::string print_CombFidMapResBase(const CombFidMapResBase& c);
// "FrameId: " + frameId + "\nmapRead:\n" + ... + "\nmapWrite:\n" + ... + "\n".
std::string print_CombFidMapResBaseRW(const CombFidMapResBaseRW& c);
