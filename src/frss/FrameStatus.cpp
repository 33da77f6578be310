#include "frss/FrameStatus.h"

#include <glog/logging.h>

#include <algorithm>

std::string ResStatusEnum_string(ResStatusEnum status) {
  static const std::map<ResStatusEnum, std::string> mapEnum2Str = {
      {FS_NONE, "FS_NONE"}, {FS_BIRTH, "FS_BIRTH"}, {FS_ALIVE, "FS_ALIVE"}, {FS_DEATH, "FS_DEATH"}};
  auto it = mapEnum2Str.find(status);
  CHECK(it != mapEnum2Str.end()) << static_cast<int>(status);
  return it->second;
}

FrameStatus::FrameStatus(std::shared_ptr<ResourceIdStore> pResourceIdStore)
    : pResourceIdStore_(std::move(pResourceIdStore)), zone_(pResourceIdStore_->zone()) {}

FrameStatus::StatusMap& FrameStatus::frame_entry(long long id) {
  auto it = frameStatusResource_.lower_bound(id);
  if (it != frameStatusResource_.end() && it->first == id) return it->second;
  if (spareFrames_.empty()) return frameStatusResource_.emplace_hint(it, id, StatusMap())->second;
  FrameMap::node_type node = std::move(spareFrames_.back());
  spareFrames_.pop_back();
  node.key() = id;
  return frameStatusResource_.insert(it, std::move(node))->second;
}

unsigned long long& FrameStatus::state_entry(StatusMap& states, ResStatusEnum status) {
  auto it = states.lower_bound(status);
  if (it != states.end() && it->first == status) return it->second;
  if (spareStates_.empty()) return states.emplace_hint(it, status, 0)->second;
  StatusMap::node_type node = std::move(spareStates_.back());
  spareStates_.pop_back();
  node.key() = status;
  node.mapped() = 0;
  return states.insert(it, std::move(node))->second;
}

void FrameStatus::erase_state(StatusMap& states, ResStatusEnum status) {
  auto it = states.find(status);
  if (it != states.end()) spareStates_.push_back(states.extract(it));
}

void FrameStatus::erase_frame(FrameMap::iterator it) {
  StatusMap& states = it->second;
  while (!states.empty()) spareStates_.push_back(states.extract(states.begin()));
  spareFrames_.push_back(frameStatusResource_.extract(it));
}

void FrameStatus::change(long long id, unsigned long long res, ResStatusEnum src, ResStatusEnum dst) {
  CHECK_NE(src, dst);

  // A kind that was never in the frame counts as being in FS_NONE.
  StatusMap* states = nullptr;
  if (src == FS_NONE) {
    states = &frame_entry(id);
    state_entry(*states, FS_NONE) |= res;
  } else {
    auto fit = frameStatusResource_.find(id);
    if (fit != frameStatusResource_.end()) states = &fit->second;
  }

  bool valid = states != nullptr;
  if (valid) {
    auto sit = states->find(src);
    valid = sit != states->end() && (sit->second & res) != 0;
    for (const auto& item : *states) {
      if (item.first != src && (item.second & res) != 0) valid = false;
    }
  }
  CHECK(valid) << "\nid = " << id << ", res = " << pResourceIdStore_->print(res, ",")
               << ", src = " << ResStatusEnum_string(src) << ", dst = " << ResStatusEnum_string(dst)
               << ", resource check failed."
               << "\n"
               << print();

  // Map references stay valid while other entries are inserted or erased.
  unsigned long long& srcUnion = state_entry(*states, src);
  unsigned long long& dstUnion = state_entry(*states, dst);
  if (src == FS_ALIVE) erase_alive(id, srcUnion);
  if (dst == FS_ALIVE) erase_alive(id, dstUnion);
  srcUnion &= ~res;
  dstUnion |= res;
  if (src == FS_ALIVE) insert_alive(id, srcUnion);
  if (dst == FS_ALIVE) insert_alive(id, dstUnion);
  if (srcUnion == 0) erase_state(*states, src);
  CHECK(frameStatusResource_[id][dst]);
  // id_isstale(id), on the entry already at hand.
  if (states->empty() || (states->size() == 1 && states->begin()->first == FS_NONE)) {
    erase_frame(frameStatusResource_.find(id));
  }
}

void FrameStatus::insert_alive(long long id, unsigned long long resunion) {
  if (resunion == 0) return;
  auto group = aliveFrame_.lower_bound(resunion);
  if (group == aliveFrame_.end() || group->first != resunion) {
    if (spareGroups_.empty()) {
      group = aliveFrame_.emplace_hint(group, resunion, std::set<long long>());
    } else {
      GroupMap::node_type node = std::move(spareGroups_.back());
      spareGroups_.pop_back();
      node.key() = resunion;
      group = aliveFrame_.insert(group, std::move(node));
    }
  }
  std::set<long long>& frames = group->second;
  auto it = frames.lower_bound(id);
  if (it != frames.end() && *it == id) {
    it = frames.find(id);
    CHECK(it == aliveFrame_[resunion].end()) << "for id(" << id << "), resunion(" << resunion << ")";
  }
  if (spareIds_.empty()) {
    frames.emplace_hint(it, id);
    return;
  }
  std::set<long long>::node_type node = std::move(spareIds_.back());
  spareIds_.pop_back();
  node.value() = id;
  frames.insert(it, std::move(node));
}

void FrameStatus::erase_alive(long long id, unsigned long long resunion) {
  if (resunion == 0) return;
  auto group = aliveFrame_.find(resunion);
  if (group == aliveFrame_.end()) {
    auto it = aliveFrame_[resunion].find(id);
    CHECK(it != aliveFrame_[resunion].end()) << "for id(" << id << "), resunion(" << resunion << ")";
  }
  auto it = group->second.find(id);
  CHECK(it != aliveFrame_[resunion].end()) << "for id(" << id << "), resunion(" << resunion << ")";
  spareIds_.push_back(group->second.extract(it));
  if (group->second.empty()) spareGroups_.push_back(aliveFrame_.extract(group));
}

unsigned long long FrameStatus::resunion_status(long long id, ResStatusEnum status) const {
  auto fit = frameStatusResource_.find(id);
  if (fit == frameStatusResource_.end()) return 0;
  auto sit = fit->second.find(status);
  return sit == fit->second.end() ? 0 : sit->second;
}

long long FrameStatus::latest(unsigned long long include, unsigned long long exclude,
                              const std::function<bool(long long)>& pred) const {
  long long best = -1;
  // Groups below `include` numerically cannot contain all of its bits.
  for (auto group = aliveFrame_.lower_bound(include); group != aliveFrame_.end(); ++group) {
    const std::set<long long>& frames = group->second;
    if (frames.empty() || *frames.rbegin() < best) continue;
    if ((group->first & include) != include || (group->first & exclude) != 0) continue;
    for (auto fit = frames.rbegin(); fit != frames.rend(); ++fit) {
      long long f = *fit;
      if (pred && !pred(f)) continue;
      auto itresmap = frameStatusResource_.find(f);
      CHECK(itresmap != frameStatusResource_.end());
      unsigned long long present = 0;
      for (const auto& item : itresmap->second) {
        if (item.first == FS_BIRTH || item.first == FS_DEATH) present |= item.second;
      }
      if (present & exclude) continue;
      best = std::max(best, f);
      break;
    }
  }
  return best;
}

std::vector<long long> FrameStatus::dup_alive(uint32_t n) const {
  std::vector<long long> out;
  dup_alive(n, out);
  return out;
}

void FrameStatus::dup_alive(uint32_t n, std::vector<long long>& out) const {
  for (const auto& group : aliveFrame_) {
    size_t s = group.second.size();
    if (s <= n) continue;
    size_t take = s - n;
    for (auto it = group.second.begin(); take > 0; ++it, --take) out.push_back(*it);
  }
}

bool FrameStatus::id_isstale(long long id) const {
  auto fit = frameStatusResource_.find(id);
  if (fit == frameStatusResource_.end()) return false;
  const StatusMap& states = fit->second;
  return states.empty() || (states.size() == 1 && states.begin()->first == FS_NONE);
}

std::unordered_set<long long> FrameStatus::idset() const {
  std::unordered_set<long long> ids;
  for (const auto& item : frameStatusResource_) ids.insert(item.first);
  return ids;
}

std::vector<long long> FrameStatus::idvec() const {
  std::vector<long long> ids;
  ids.reserve(frameStatusResource_.size());
  for (const auto& item : frameStatusResource_) ids.push_back(item.first);
  return ids;
}

std::string FrameStatus::print() const {
  std::string out;
  for (const auto& frame : frameStatusResource_) {
    out += "FrameId = " + std::to_string(frame.first) + ". ";
    bool first = true;
    for (const auto& state : frame.second) {
      if (!first) out += "; ";
      out += ResStatusEnum_string(state.first) + ": " + pResourceIdStore_->print(state.second, ",");
      first = false;
    }
    out += "\n";
  }
  out += "--- ---\n";
  for (const auto& group : aliveFrame_) {
    out += "ResourceIdUnion = " + std::to_string(group.first) + "(" +
           pResourceIdStore_->print(group.first, ",") + "):";
    for (long long id : group.second) out += " " + std::to_string(id);
    out += "\n";
  }
  out += "=== ===\n";
  return out;
}

void FrameStatus::debug() const {
  for (const auto& frame : frameStatusResource_) {
    long long frameId = frame.first;
    unsigned long long resunion = 0;
    for (const auto& seitem : frame.second) {
      CHECK(!(resunion & seitem.second))
          << "frameId = " << frameId << ", resunion = " << resunion << ", sep->second = " << seitem.second;
      resunion |= seitem.second;
    }
    auto sep = frame.second.find(FS_ALIVE);
    if (sep == frame.second.end()) continue;
    resunion = sep->second;
    auto afp = aliveFrame_.find(resunion);
    CHECK(afp != aliveFrame_.end()) << "frameId = " << frameId << ", resunion = " << resunion;
    CHECK(afp->second.find(frameId) != afp->second.end())
        << "frameId = " << frameId << ", resunion = " << resunion;
  }
  for (const auto& group : aliveFrame_) {
    unsigned long long resunion = group.first;
    for (long long frameId : group.second) {
      auto fsrp = frameStatusResource_.find(frameId);
      CHECK(fsrp != frameStatusResource_.end()) << "frameId = " << frameId << ", resunion = " << resunion;
      auto sep = fsrp->second.find(FS_ALIVE);
      CHECK(sep != fsrp->second.end()) << "frameId = " << frameId << ", resunion = " << resunion;
      CHECK_EQ(resunion, sep->second) << "frameId = " << frameId << ", resunion = " << resunion;
    }
  }
}
