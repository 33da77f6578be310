#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <thread>

#include "frss/FrameResourceStore.h"
#include "frss/FrameResourceStoreDetail.h"
#include "testing/LogCapture.h"

namespace {

constexpr unsigned long long A = 1, B = 2, C = 4, D = 8;
using Ids = std::vector<long long>;
using Weights = std::unordered_map<unsigned long long, double>;
using Frames = std::vector<std::pair<long long, unsigned long long>>;  // frame and its kinds
const std::unordered_map<unsigned long long, std::string> kNames = {{A, "A"}, {B, "B"}, {C, "C"}, {D, "D"}};

// A resource whose payload (the frame that wrote it) clean_content() resets.
struct Tagged : ResourceBase {
  Tagged(unsigned long long id, const std::string& name) : ResourceBase(id, name, "none") {}
  void clean_content() override { payload = -1; }
  long long payload = -1;
};
long long payload(const std::shared_ptr<ResourceBase>& p) {
  return p ? static_cast<Tagged&>(*p).payload : -2;
}
FrameResourceStore::Producer producer(unsigned long long id) {
  return [id] { return std::make_shared<Tagged>(id, kNames.at(id)); };
}

// Claims, writes and publishes the kinds of each frame, holding every claim until it is published.
void publish(FrameResourceStore& store, const Frames& frames) {
  for (auto [f, kinds] : frames) {
    MapResId2ResBasePtr m = store.tobe_written(f, kinds, false, 0);
    for (auto& item : m) static_cast<Tagged&>(*item.second).payload = f;
    store.have_written(f, kinds);
  }
}

// A store over A..D with A, B and C registered (D is defined but not registered).
std::shared_ptr<FrameResourceStore> make_store(int32_t capacity, const Frames& frames = {},
                                               int32_t dupKept = 1) {
  auto store = produce_FrameResourceStore(kNames, capacity, dupKept, "zone");
  for (unsigned long long id : {A, B, C}) store->register_resource(id, producer(id), false);
  publish(*store, frames);
  return store;
}

bool shows(const FrameResourceStore& store, const std::string& part) {
  return store.print().find(part) != std::string::npos;
}

TEST(FrameResourceStoreTest, ClaimsPublishesAndFetchesWithReadCounts) {
  auto store = produce_FrameResourceStore(kNames, 2, 1, "zone");
  store->register_resource(A, producer(A), false);
  store->register_resource(B, producer(B), false);
  auto claimed = store->tobe_written(10, A | B, false, 0);
  EXPECT_FALSE(store->fetch_byframe(10, A).at(A)) << "not published yet";
  static_cast<Tagged&>(*claimed.at(A)).payload = 10;
  store->have_written(10, A);
  store->register_resource(A, producer(A), false);  // keeps the first pool
  store->register_resource(A, producer(A), true);   // takes a resource out and back to compare
  EXPECT_EQ(payload(store->fetch_byframe(10, A | B).at(A)), 10);
  EXPECT_FALSE(store->fetch_byframe(10, A | B).at(B)) << "B is still being written";
  EXPECT_EQ(store->fetch_byframe(10, A).at(A)->readCnt(), 3);
  EXPECT_EQ(store->are_registered(A | C | D | 16), A);
  EXPECT_EQ(store->are_registered({D, B, 16, A}), (std::vector<unsigned long long>{B, A}));
  EXPECT_TRUE(
      shows(*store,
            "FrameResourceStoreDetail print\nFrameId = 10. FS_BIRTH: Zone: zone, B; FS_ALIVE: "
            "Zone: zone, A\n--- ---\nResourceIdUnion = 1(Zone: zone, A): 10\n=== ===\nZone: zone, A's"));
  EXPECT_TRUE(shows(*store, "A's deathMap size = 0, IDs:\n--- ---\nZone: zone, B's emptylist size = 1\n"));
  EXPECT_TRUE(shows(*store, "B's deathMap size = 0, IDs:\n--- ---\n###########################\n"));
}

TEST(FrameResourceStoreTest, EvictsOlderDuplicatesThenWholeUnheldFramesOldestFirst) {
  const Frames frames = {{1, A | B}, {2, A}, {3, A}, {4, A}, {5, C}};
  EXPECT_EQ(make_store(4, frames, 1)->frame_ids(), (Ids{1, 3, 4, 5})) << "2: oldest of three publishing A";
  EXPECT_EQ(make_store(4, frames, 3)->frame_ids(), (Ids{2, 3, 4, 5}));
  auto store = make_store(2, {{10, A | B}, {11, C}});
  auto held = store->fetch_byframe(10, A);  // B of frame 10 is not held
  publish(*store, {{12, A}, {12, B}});
  EXPECT_EQ(store->frame_ids(), (Ids{10, 12})) << "more kinds for a present frame need no seat";
  EXPECT_EQ(payload(store->fetch_byframe(10, B).at(B)), 10) << "frame 10 is kept whole";
  held.clear();
  publish(*store, {{13, C}});
  EXPECT_EQ(store->frame_ids(), (Ids{12, 13}));
}

TEST(FrameResourceStoreTest, ReleasedKindsAreRecycledOnceNobodyHoldsThem) {
  auto store = make_store(3, {{4, A | B}});
  auto held = store->fetch_byframe(4, B);
  store->drop(4, A | B);
  EXPECT_FALSE(store->fetch_byframe(4, B).at(B));
  auto claimed = store->tobe_written(5, A | B, false, 0);
  claimed.erase(A);
  store->undo_written(5, A);
  EXPECT_TRUE(shows(*store,
                    "print\nFrameId = 4. FS_NONE: Zone: zone, A; FS_DEATH: Zone: zone, B\n"
                    "FrameId = 5. FS_NONE: Zone: zone, A; FS_BIRTH: Zone: zone, B\n--- ---\n"));
  store->undo_written(5, B);
  held.clear();
  claimed.clear();
  publish(*store, {{6, C}, {7, A}, {8, A | C}});
  EXPECT_EQ(store->frame_ids(), (Ids{6, 7, 8}));
  EXPECT_TRUE(shows(*store, "Zone: zone, B's emptylist size = 3\n"));
  LogCapture log(google::GLOG_ERROR);
  store->tobe_written(1, B, false, 0);  // claimed (evicting 6), and the claim dropped unpublished
  EXPECT_TRUE(store->tobe_written(10, 0, false, 0).empty()) << "an empty union still asks for a seat";
  EXPECT_EQ(log.count("FRSS ERROR: a stale frame(1) has FS_BIRTH resources: Zone: zone, B\nFrameId = 1. "
                      "FS_BIRTH: Zone: zone, B\nFrameId = 7. FS_ALIVE"),
            1);
  EXPECT_EQ(store->frame_ids(), (Ids{7, 8}));
  store->debug();
}

TEST(FrameResourceStoreTest, WaitingClaimRetriesUntilAReaderReleases) {
  auto store = make_store(1, {{10, A}});
  auto held = std::make_shared<MapResId2ResBasePtr>(store->fetch_byframe(10, A));  // reset by the reader
  LogCapture log(google::GLOG_ERROR);
  std::thread reader([&] {
    while (log.count("cannot tobe_written resources: Zone: zone, A") < 3) std::this_thread::yield();
    held.reset();
  });
  EXPECT_EQ(store->tobe_written(11, A, true, 1).size(), 1u);
  reader.join();
  EXPECT_EQ(store->frame_ids(), Ids{11});
  // Logged once: at most once a second.
  EXPECT_EQ(log.count("FRSS seats (zone, capacity 1) held by 1 frames: frame 10 [A FS_ALIVE by 1 holder(s)]"),
            1);
}

TEST(FrameResourceStoreTest, BorrowUsesPlaceholderFramesBelowEveryFrame) {
  auto store = make_store(4);
  EXPECT_EQ(store->frame_range(), (Ids{-1, -1}));
  auto first = store->borrow(A, false, 0);
  publish(*store, {{5, A}});
  auto second = store->borrow(B, false, 0);
  EXPECT_TRUE(store->borrow(0, false, 0)->empty()) << "and makes no placeholder frame";
  first.reset();
  second.reset();
  EXPECT_TRUE(shows(*store,
                    "print\nFrameId = -3. FS_DEATH: Zone: zone, B\nFrameId = -2. FS_DEATH: Zone: zone, A\n"
                    "FrameId = 5. FS_ALIVE: Zone: zone, A\n--- ---\n"));
  publish(*store, {{6, B}, {7, C}});
  EXPECT_EQ(store->frame_range(), (Ids{-2, 7})) << "the oldest placeholder made room";
  EXPECT_TRUE(shows(*store, "Zone: zone, B's emptylist size = 3\n"));
  FrameResourceStoreDetail unowned(kNames, 2, 1, "zone");
  unowned.register_resource(A, producer(A), false);
  unowned.borrow(A, false, 0).reset();
  EXPECT_EQ(unowned.frame_ids(), Ids{-2});
}

TEST(FrameResourceStoreTest, CoarseFetchesChooseTheBestFrameOfARange) {
  auto store = make_store(4, {{8, A}, {9, A | B | C}, {10, A | B}});
  // clang-format off
  struct Row { long long min, max; unsigned long long must, opt; uint32_t optNum; bool firstFit; long long frame; };
  const Row rows[] = {
      {0, 20, A, B | C, 1, false, 9}, {0, 20, A, B | C, 1, true, 10}, {0, 20, A, B | C, 2, true, 9},
      {0, 20, A | C, 0, 0, false, 9}, {0, 9, A, B, 1, false, 9}, {10, 10, A, 0, 0, false, 10},
      {0, 20, A, B, 1, false, 10} /* tie: the newer */, {11, 20, A, 0, 0, true, -1}, {20, 0, A, 0, 0, true, -1},
      {0, 20, 0, 0, 0, true, 20}, {0, 20, 0, 0, 0, false, -1}, {LLONG_MIN, LLONG_MIN + 2, 0, 0, 0, true, LLONG_MIN + 2},
      {LLONG_MIN, LLONG_MIN, A, 0, 0, true, -1}};
  // clang-format on
  for (const Row& row : rows) {
    auto got = store->fetch_byframe_coarsely(row.min, row.max, row.must, row.opt, row.optNum, row.firstFit);
    EXPECT_EQ(got.tag + std::to_string(got.frameId), "none" + std::to_string(row.frame))
        << "row " << &row - rows;
    for (auto& item : got.mapRes) EXPECT_EQ(payload(item.second), row.frame);
  }
  const int before = store->fetch_byframe(8, A).at(A)->readCnt();
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, 0, 0, false).frameId, 10);
  EXPECT_EQ(store->fetch_byframe(8, A).at(A)->readCnt(), before + 2) << "frames not chosen are counted too";

  const Weights half = {{B, 0.5}, {C, 0.5}}, onlyB = {{B, 1.0}, {C, 0.0}}, must = {{A, 5.0}, {C, 0.1}};
  // clang-format off
  struct WRow { long long min; unsigned long long must; const Weights* w; uint32_t optNum, cands; bool recency; long long frame; size_t size; };
  const WRow wrows[] = {
      {0, A, &half, 1, 5, false, 9, 3}, {0, A, &half, 1, 1, false, 10, 2}, {0, A, &half, 1, 0, false, 10, 2},
      {0, A, &half, 1, 5, true, 10, 2} /* 10.5 beats 10.0 */, {0, A, &onlyB, 1, 5, false, 10, 2} /* tie */,
      {0, A, &must, 0, 5, false, 9, 2}, {0, A | C, &half, 2, 5, false, 9, 3}, {11, A, &half, 0, 5, false, -1, 0}};
  // clang-format on
  for (const WRow& row : wrows) {
    auto got =
        store->fetch_byframe_coarsely(row.min, 20, row.must, *row.w, row.optNum, row.cands, row.recency);
    EXPECT_EQ(got.frameId * 10 + static_cast<long long>(got.mapRes.size()), row.frame * 10 + row.size)
        << "row " << &row - wrows;
  }
}

TEST(FrameResourceStoreTest, FetchByUnionBindsTheNewestFrameWithoutTheOutputsInAnyState) {
  auto store = make_store(4, {{4, A}, {5, A}, {6, A}});
  const FrameResourceStore::CandidatePredicate any = [](const CombFidMapResBaseRW*) { return true; };
  CombFidMapResBaseRW first = store->fetch_byunion(A, B, 4LL, 0);
  EXPECT_EQ(payload(first.mapRead.at(A)), first.frameId);
  EXPECT_EQ(first.tag + std::to_string(first.frameId), "none6");
  for (int pass = 0; pass < 3; ++pass) {  // B of frame 6 claimed, released but held, released
    EXPECT_EQ(store->fetch_byunion(A, B, -1LL, 0).frameId, 5) << pass;
    store->undo_written(5, B);
    EXPECT_EQ(store->fetch_byunion(A, B, any, 0).frameId, 5) << pass;
    store->undo_written(5, B);
    if (pass == 0) store->undo_written(6, B);
    if (pass == 1) first = CombFidMapResBaseRW();
  }
  EXPECT_EQ(store->fetch_byunion(A, 0, 5LL, 0).frameId, 6);
  EXPECT_EQ(store->fetch_byunion(A, 0, 6LL, 0).frameId, -1) << "the bound is excluded";
  EXPECT_EQ(store->fetch_byunion(A, 0, std::unordered_set<long long>{6}, 0).frameId, 5);
  EXPECT_EQ(store->fetch_byunion(A, 0, std::unordered_set<long long>{4, 5, 6}, 0).frameId, -1);
  EXPECT_EQ(store->fetch_byunion(A, 0, FrameResourceStore::FrameIdPredicate(), 0).frameId, 6);
  EXPECT_EQ(store->fetch_byunion(A | B, 0, any, 0).frameId, -1);
  store->debug();
}

TEST(FrameResourceStoreTest, CandidatePredicateReleasesRejectedClaimsAtOnce) {
  auto store = make_store(4, {{4, A}, {5, A}, {6, A | C}});
  auto claimed = store->tobe_written(7, A, false, 0);
  Ids seen;
  auto pred = [&](const CombFidMapResBaseRW* c) {
    seen.push_back(payload(c->mapRead.at(A)) == c->frameId && c->mapWrite.count(B) ? c->frameId : -1);
    return c->frameId == 4;
  };
  CombFidMapResBaseRW bound = store->fetch_byunion(A, B, pred, 0);
  EXPECT_EQ(seen, (Ids{6, 5, 4})) << "7 has A only claimed";
  EXPECT_EQ(bound.frameId, 4);
  EXPECT_TRUE(shows(*store, "FrameId = 5. FS_NONE: Zone: zone, B; FS_ALIVE: Zone: zone, A\n"));
  EXPECT_EQ(store->fetch_byunion(A, B, 4LL, 0).frameId, 6) << "rejected frames are eligible again";
  EXPECT_EQ(store->fetch_byunion(A | C, 0, FrameResourceStore::CandidatePredicate(), 0).frameId, 6);
}

TEST(FrameResourceStoreTest, CleanupActivelyDropsDuplicatesFromAFillLevel) {
  auto store = make_store(8, {{1, A}, {2, A}, {3, A}});
  store->cleanup_actively(0.5f);
  EXPECT_EQ(store->frame_ids(), (Ids{1, 2, 3})) << "3 frames < 8 * 0.5";
  publish(*store, {{4, A}});
  for (float never : {1.5f, std::nanf("")}) store->cleanup_actively(never);
  EXPECT_EQ(store->frame_ids(), (Ids{1, 2, 3, 4}));
  auto held = store->fetch_byframe(2, A);
  store->cleanup_actively(0.5f);
  EXPECT_EQ(store->frame_ids(), (Ids{2, 4})) << "a held duplicate stays";
}

TEST(FrameResourceStoreDeathTest, MisuseStops) {
  auto store = make_store(1, {{1, A}});
  auto held = store->fetch_byframe(1, A);
  const std::string unregistered = "Check failed: it != resourceMap_\\.end\\(\\) Zone: zone, D? has not been";
  const std::string valid = "Check failed: valid \nid = 1, res = Zone: zone, ";
  const std::string optNum = "Check failed: itemsOpt\\.size\\(\\) >= optNum ";
  // clang-format off
  const std::pair<std::function<void()>, std::string> rows[] = {
      {[&] { store->tobe_written(2, A | B, false, 0); }, "cannot tobe_written resources: Zone: zone, [AB],[AB]"},
      {[&] { store->borrow(C, false, 0); }, "cannot borrow resources: Zone: zone, C"},
      {[&] { store->tobe_written(2, 0, false, 0); }, "FRSS seats \\(zone, capacity 1\\) held by 1 frames: frame 1 \\[A FS_ALIVE by 1 holder\\(s\\)\\]"},
      {[&] { store->tobe_written(1, D, false, 0); }, unregistered},
      {[&] { store->fetch_byframe(1, D); }, unregistered},
      {[&] { store->fetch_byframe_coarsely(0, 1, 0, Weights{{16, 1.0}}, 0, 1, false); }, unregistered},
      {[&] { store->tobe_written(1, A, false, 0); }, valid + "A, src = FS_NONE, dst = FS_BIRTH, resource check failed\\."},
      {[&] { store->have_written(1, B); }, valid + "B, src = FS_BIRTH"},
      {[&] { store->drop(1, B); }, valid + "B, src = FS_ALIVE"},
      {[&] { store->undo_written(1, A); }, valid + "A, src = FS_BIRTH"},
      {[&] { store->fetch_byframe_coarsely(0, 1, A, B | D | 16, 3, true); }, optNum},
      {[&] { store->fetch_byframe_coarsely(0, 1, A, Weights{{B, 1.0}}, 2, 1, true); }, optNum},
      {[&] { store->register_resource(B, producer(C), true); }, "Check failed: ptr->resId\\(\\) == ptrInStore->resId\\(\\) "},
      {[&] { store->register_resource(B, [] { return std::make_shared<Tagged>(B, "other"); }, true); }, "Check failed: ptr->resName\\(\\) == ptrInStore->resName\\(\\) "},
      {[&] { store->register_resource(B, [] { return std::shared_ptr<ResourceBase>(); }, true); }, "Check failed: ptr "},
      {[&] { make_store(0)->register_resource(A, producer(A), true); }, "Check failed: not emptyList_\\.empty\\(\\)  for Zone: zone, A's emptylist"},
      {[&] { make_store(0)->tobe_written(1, A, false, 0); }, "FRSS seats \\(zone, capacity 0\\) held by 0 frames:"}};
  // clang-format on
  for (const auto& row : rows) EXPECT_DEATH(row.first(), row.second) << "row " << &row - rows;
}

}  // namespace
