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
using Kinds = std::vector<std::pair<long long, unsigned long long>>;  // frame, kinds
const std::unordered_map<unsigned long long, std::string> kNames = {{A, "A"}, {B, "B"}, {C, "C"}, {D, "D"}};

// A resource whose payload (the frame that wrote it) clean_content() resets.
class Tagged : public ResourceBase {
 public:
  Tagged(unsigned long long id, const std::string& name) : ResourceBase(id, name, "none") {}
  void clean_content() override { payload = -1; }
  long long payload = -1;
};

long long payload(const std::shared_ptr<ResourceBase>& p) {
  return p ? static_cast<Tagged&>(*p).payload : -2;
}

FrameResourceStore::Producer producer(unsigned long long id, int* made = nullptr) {
  return [id, made]() -> std::shared_ptr<ResourceBase> {
    if (made) ++*made;
    return std::make_shared<Tagged>(id, kNames.at(id));
  };
}

// Claims, writes and publishes the kinds of each frame, holding every claim until it is published.
void publish(FrameResourceStore& store, const Kinds& frames) {
  for (auto [f, kinds] : frames) {
    MapResId2ResBasePtr m = store.tobe_written(f, kinds, false, 0);
    for (auto& item : m) static_cast<Tagged&>(*item.second).payload = f;
    store.have_written(f, kinds);
  }
}

// A store over A..D with A, B and C registered (D is defined but not registered).
std::shared_ptr<FrameResourceStore> make_store(int32_t capacity, const Kinds& frames = {},
                                               int32_t dupAliveKept = 1) {
  auto store = produce_FrameResourceStore(kNames, capacity, dupAliveKept, "zone");
  for (unsigned long long id : {A, B, C}) store->register_resource(id, producer(id), false);
  publish(*store, frames);
  return store;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(FrameResourceStoreTest, ClaimsPublishesAndFetchesWithReadCounts) {
  LogCapture log;
  int made = 0;
  auto store = produce_FrameResourceStore(kNames, 2, 1, "zone");
  EXPECT_EQ(log.count("FrameResourceStoreDetail ctor, capacity = 2, dupAliveKept = 1"), 1);
  store->register_resource(A, producer(A, &made), false);
  store->register_resource(B, producer(B), false);
  auto claimed = store->tobe_written(10, A | B, false, 0);
  EXPECT_EQ(claimed.at(A)->readCnt(), -1);
  EXPECT_FALSE(store->fetch_byframe(10, A).at(A)) << "not published yet";
  static_cast<Tagged&>(*claimed.at(A)).payload = 10;
  store->have_written(10, A);
  store->register_resource(A, producer(A, &made), false);
  EXPECT_EQ(made, 2) << "registering again keeps the first pool";
  store->register_resource(A, producer(A, &made), true);
  EXPECT_EQ(made, 3) << "verification makes one resource to compare";
  auto read = store->fetch_byframe(10, A | B);
  EXPECT_EQ(payload(read.at(A)), 10);
  EXPECT_EQ(read.at(A)->readCnt(), 1);
  EXPECT_FALSE(read.at(B)) << "B is still being written";
  EXPECT_EQ(store->fetch_byframe(10, A).at(A)->readCnt(), 2);
  EXPECT_TRUE(contains(store->print(), "Zone: zone, A's emptylist size = 1\n"));
  EXPECT_EQ(store->are_registered(A | C | D | 16), A);
  EXPECT_EQ(store->are_registered(std::vector<unsigned long long>{D, B, 16, A}),
            (std::vector<unsigned long long>{B, A}));
  store->debug();
}

TEST(FrameResourceStoreTest, EvictsOlderDuplicatesFirst) {
  const Kinds frames = {{1, A | B}, {2, A}, {3, A}, {4, A}, {5, C}};
  EXPECT_EQ(make_store(4, frames, 1)->frame_ids(), (Ids{1, 3, 4, 5})) << "2: oldest of three publishing A";
  EXPECT_EQ(make_store(4, frames, 3)->frame_ids(), (Ids{2, 3, 4, 5}));
}

TEST(FrameResourceStoreTest, EvictionSkipsAFrameOfWhichAnyKindIsHeld) {
  auto store = make_store(2, {{10, A | B}, {11, C}});
  auto held = store->fetch_byframe(10, A);  // B of frame 10 is not held
  publish(*store, {{12, A}});
  EXPECT_EQ(store->frame_ids(), (Ids{10, 12}));
  EXPECT_EQ(payload(store->fetch_byframe(10, B).at(B)), 10) << "frame 10 is kept whole";
  publish(*store, {{12, B}});
  EXPECT_EQ(store->frame_ids(), (Ids{10, 12})) << "more kinds for a present frame need no seat";
  held.clear();
  publish(*store, {{13, C}});
  EXPECT_EQ(store->frame_ids(), (Ids{12, 13}));
  EXPECT_TRUE(contains(store->print(), "Zone: zone, B's emptylist size = 1\n"));
  store->debug();
}

TEST(FrameResourceStoreTest, StaleClaimIsRecycledWithAnError) {
  auto store = make_store(1);
  LogCapture log(google::GLOG_ERROR);
  store->tobe_written(10, A, false, 0);  // claimed, and the claim dropped unpublished
  EXPECT_TRUE(store->tobe_written(11, 0, false, 0).empty()) << "an empty union still asks for a seat";
  EXPECT_EQ(log.count("FRSS ERROR: a stale frame(10) has FS_BIRTH resources: Zone: zone, A\nFrameId = 10. "
                      "FS_BIRTH: Zone: zone, A\n"),
            1);
  EXPECT_EQ(store->frame_ids(), Ids{});
  store->debug();
}

TEST(FrameResourceStoreTest, ReleasedKindsAreRecycledOnceNobodyHoldsThem) {
  auto store = make_store(3, {{4, A | B}});
  auto held = store->fetch_byframe(4, B);
  store->drop(4, A | B);
  EXPECT_TRUE(contains(store->print(), "FrameId = 4. FS_NONE: Zone: zone, A; FS_DEATH: Zone: zone, B\n"));
  EXPECT_FALSE(store->fetch_byframe(4, B).at(B));
  EXPECT_EQ(payload(held.at(B)), 4) << "the reader keeps using it";
  auto claimed = store->tobe_written(5, A | B, false, 0);
  claimed.erase(A);
  store->undo_written(5, A);
  EXPECT_TRUE(contains(store->print(), "FrameId = 5. FS_NONE: Zone: zone, A; FS_BIRTH: Zone: zone, B\n"));
  store->undo_written(5, B);
  EXPECT_TRUE(contains(store->print(), "FrameId = 5. FS_NONE: Zone: zone, A; FS_DEATH: Zone: zone, B\n"));
  held.clear();
  claimed.clear();
  publish(*store, {{6, C}, {7, A}, {8, A | C}});
  EXPECT_EQ(store->frame_ids(), (Ids{6, 7, 8}));
  EXPECT_TRUE(contains(store->print(), "Zone: zone, B's emptylist size = 3\n"));
  store->debug();
}

TEST(FrameResourceStoreTest, WaitingClaimRetriesUntilAReaderReleases) {
  auto store = make_store(1, {{10, A}});
  auto held = std::make_shared<MapResId2ResBasePtr>(store->fetch_byframe(10, A));
  LogCapture log(google::GLOG_ERROR);
  std::thread reader([&] {
    while (log.count("cannot tobe_written resources: Zone: zone, A") < 3) std::this_thread::yield();
    held.reset();
  });
  EXPECT_EQ(store->tobe_written(11, A, true, 1).size(), 1u);
  reader.join();
  EXPECT_EQ(store->frame_ids(), Ids{11});
  EXPECT_EQ(log.count("FRSS seats"), 1) << "at most once per second";
  EXPECT_EQ(log.count("FRSS seats (zone, capacity 1) held by 1 frames: frame 10 [A FS_ALIVE by 1 holder(s)]"),
            1);
}

TEST(FrameResourceStoreTest, BorrowUsesPlaceholderFramesBelowEveryFrame) {
  std::weak_ptr<FrameResourceStore> weak;
  std::shared_ptr<MapResId2ResBasePtr> first, second;
  {
    auto store = make_store(4);
    weak = store;
    first = store->borrow(A, false, 0);
    EXPECT_EQ(store->frame_ids(), Ids{-2});
    publish(*store, {{5, A}});
    second = store->borrow(A | B, false, 0);
    EXPECT_EQ(second->size(), 2u);
    EXPECT_TRUE(store->borrow(0, false, 0)->empty());
    EXPECT_EQ(store->frame_range(), (Ids{-3, 5})) << "an empty borrow creates no placeholder frame";
    first.reset();
    EXPECT_TRUE(contains(store->print(), "FrameId = -2. FS_DEATH: Zone: zone, A\n"));
    second.reset();
    publish(*store, {{6, B}, {7, C}});
    EXPECT_EQ(store->frame_ids(), (Ids{-2, 5, 6, 7})) << "the oldest placeholder made room";
    EXPECT_TRUE(contains(store->print(), "Zone: zone, B's emptylist size = 3\n"));
    first = store->borrow(C, false, 0);
  }
  EXPECT_FALSE(weak.expired()) << "a borrowed map keeps its store";
  first.reset();
  EXPECT_TRUE(weak.expired());
  FrameResourceStoreDetail unowned(kNames, 2, 1, "zone");
  unowned.register_resource(A, producer(A), false);
  unowned.borrow(A, false, 0).reset();
  EXPECT_EQ(unowned.frame_ids(), Ids{-2});
  EXPECT_EQ(make_store(1)->frame_range(), (Ids{-1, -1}));
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
    SCOPED_TRACE(&row - rows);
    CombFidMapResBase got =
        store->fetch_byframe_coarsely(row.min, row.max, row.must, row.opt, row.optNum, row.firstFit);
    EXPECT_EQ(got.frameId, row.frame);
    EXPECT_EQ(got.tag, "none");
    for (auto& item : got.mapRes) EXPECT_EQ(payload(item.second), row.frame);
  }
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, B | C, 1, false).mapRes.size(), 3u);
  // Every probed resource is counted, also of the frames not chosen.
  const int before = store->fetch_byframe(8, A).at(A)->readCnt();
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, 0, 0, false).frameId, 10);
  EXPECT_EQ(store->fetch_byframe(8, A).at(A)->readCnt(), before + 2);

  const Weights half = {{B, 0.5}, {C, 0.5}}, onlyB = {{B, 1.0}, {C, 0.0}}, must = {{A, 5.0}, {C, 0.1}};
  // clang-format off
  struct WRow { long long min; unsigned long long must; const Weights* w; uint32_t optNum, cands; bool recency; long long frame; size_t size; };
  const WRow wrows[] = {
      {0, A, &half, 1, 5, false, 9, 3}, {0, A, &half, 1, 1, false, 10, 2}, {0, A, &half, 1, 0, false, 10, 2},
      {0, A, &half, 1, 5, true, 10, 2} /* 10.5 beats 10.0 */, {0, A, &onlyB, 1, 5, false, 10, 2} /* tie */,
      {0, A, &must, 0, 5, false, 9, 2}, {0, A | C, &half, 2, 5, false, 9, 3}, {11, A, &half, 0, 5, false, -1, 0}};
  // clang-format on
  for (const WRow& row : wrows) {
    SCOPED_TRACE(&row - wrows);
    CombFidMapResBase got =
        store->fetch_byframe_coarsely(row.min, 20, row.must, *row.w, row.optNum, row.cands, row.recency);
    EXPECT_EQ(got.frameId, row.frame);
    EXPECT_EQ(got.mapRes.size(), row.size);
  }
}

TEST(FrameResourceStoreTest, FetchByUnionBindsTheNewestFrameWithoutTheOutputsInAnyState) {
  auto store = make_store(4, {{4, A}, {5, A}, {6, A}});
  const FrameResourceStore::CandidatePredicate any = [](const CombFidMapResBaseRW*) { return true; };
  CombFidMapResBaseRW first = store->fetch_byunion(A, B, 4LL, 0);
  EXPECT_EQ(first.frameId, 6);
  EXPECT_EQ(first.tag, "none");
  EXPECT_EQ(payload(first.mapRead.at(A)), 6);
  EXPECT_EQ(first.mapWrite.at(B)->readCnt(), -1);
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE(pass);  // B of frame 6 claimed, then released but held, then released and unheld
    EXPECT_EQ(store->fetch_byunion(A, B, -1LL, 0).frameId, 5);
    store->undo_written(5, B);
    EXPECT_EQ(store->fetch_byunion(A, B, any, 0).frameId, 5);
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
  CombFidMapResBaseRW bound = store->fetch_byunion(
      A, B,
      [&](const CombFidMapResBaseRW* c) {
        seen.push_back(c->frameId);
        EXPECT_EQ(payload(c->mapRead.at(A)), c->frameId);
        EXPECT_EQ(c->mapWrite.count(B), 1u);
        return c->frameId == 4;
      },
      0);
  EXPECT_EQ(seen, (Ids{6, 5, 4})) << "7 has A only claimed";
  EXPECT_EQ(bound.frameId, 4);
  EXPECT_EQ(bound.mapWrite.size(), 1u);
  EXPECT_TRUE(contains(store->print(), "FrameId = 5. FS_NONE: Zone: zone, B; FS_ALIVE: Zone: zone, A\n"));
  EXPECT_TRUE(contains(store->print(), "Zone: zone, B's emptylist size = 3\n"));
  EXPECT_EQ(store->fetch_byunion(A, B, 4LL, 0).frameId, 6) << "rejected frames are eligible again";
  EXPECT_EQ(store->fetch_byunion(A | C, 0, FrameResourceStore::CandidatePredicate(), 0).frameId, 6);
}

TEST(FrameResourceStoreTest, VerboseFetchExplainsAMiss) {
  auto store = make_store(2);
  LogCapture log;
  const std::string why = "fetch resunionInclude = Zone: zone, A, resunionExclude = Zone: zone, B";
  const FrameResourceStore::CandidatePredicate reject = [](const CombFidMapResBaseRW*) { return false; };
  for (int verbose : {0, 1, 2}) {
    store->fetch_byunion(A, B, 0LL, verbose);
    store->fetch_byunion(A, B, reject, verbose);
  }
  EXPECT_EQ(log.count(why), 4);
  EXPECT_EQ(log.count(why + "\n--- ---\n=== ===\nZone: zone, A's emptylist size = 2\n"), 2);
  const size_t before = log.lines().size();
  store->fetch_byunion(A, B, 0LL, -1);
  store->fetch_byunion(A, B, reject, -1);
  ASSERT_EQ(log.lines().size(), before + 2);
  EXPECT_EQ(log.lines()[before] + log.lines()[before + 1], "") << "a negative verbose logs empty lines";
}

TEST(FrameResourceStoreTest, CleanupActivelyDropsDuplicatesFromAFillLevel) {
  auto store = make_store(8, {{1, A}, {2, A}, {3, A}});
  store->cleanup_actively(0.5f);
  EXPECT_EQ(store->frame_ids(), (Ids{1, 2, 3})) << "3 frames < 8 * 0.5";
  publish(*store, {{4, A}});
  store->cleanup_actively(1.5f);
  store->cleanup_actively(std::nanf(""));
  EXPECT_EQ(store->frame_ids(), (Ids{1, 2, 3, 4}));
  auto held = store->fetch_byframe(2, A);
  store->cleanup_actively(0.5f);
  EXPECT_EQ(store->frame_ids(), (Ids{2, 4})) << "a held duplicate stays";
}

TEST(FrameResourceStoreTest, PrintShowsLedgerAndPoolsWithOutsideHolders) {
  auto store = produce_FrameResourceStore(kNames, 2, 1, "zone");
  store->register_resource(A, producer(A), false);
  publish(*store, {{3, A}});
  auto held = store->fetch_byframe(3, A);
  EXPECT_EQ(store->print(),
            "FrameResourceStoreDetail print\nFrameId = 3. FS_ALIVE: Zone: zone, A\n--- ---\n"
            "ResourceIdUnion = 1(Zone: zone, A): 3\n=== ===\nZone: zone, A's emptylist size = 1\n"
            "Zone: zone, A's birthMap size = 0, IDs:\nZone: zone, A's aliveMap size = 1, IDs: 3(1)\n"
            "Zone: zone, A's deathMap size = 0, IDs:\n--- ---\n###########################\n");
}

TEST(FrameResourceStoreDeathTest, MisuseStops) {
  auto store = make_store(1, {{1, A}});
  auto held = store->fetch_byframe(1, A);
  const std::string unregistered = "Check failed: it != resourceMap_\\.end\\(\\) Zone: zone, D? has not been";
  const std::string valid = "Check failed: valid \nid = 1, res = Zone: zone, ";
  const std::string optNum = "Check failed: itemsOpt\\.size\\(\\) >= optNum ";
  EXPECT_DEATH(store->tobe_written(2, A | B, false, 0),
               "cannot tobe_written resources: Zone: zone, [AB],[AB]");
  EXPECT_DEATH(store->borrow(C, false, 0), "cannot borrow resources: Zone: zone, C");
  EXPECT_DEATH(
      store->tobe_written(2, 0, false, 0),
      "FRSS seats \\(zone, capacity 1\\) held by 1 frames: frame 1 \\[A FS_ALIVE by 1 holder\\(s\\)\\]");
  EXPECT_DEATH(store->tobe_written(1, D, false, 0), unregistered);
  EXPECT_DEATH(store->fetch_byframe(1, D), unregistered);
  EXPECT_DEATH(store->fetch_byframe_coarsely(0, 1, 0, Weights{{16, 1.0}}, 0, 1, false), unregistered);
  EXPECT_DEATH(store->tobe_written(1, A, false, 0),
               valid + "A, src = FS_NONE, dst = FS_BIRTH, resource check failed\\.");
  EXPECT_DEATH(store->have_written(1, B), valid + "B, src = FS_BIRTH");
  EXPECT_DEATH(store->drop(1, B), valid + "B, src = FS_ALIVE");
  EXPECT_DEATH(store->undo_written(1, A), valid + "A, src = FS_BIRTH");
  EXPECT_DEATH(store->fetch_byframe_coarsely(0, 1, A, B | D | 16, 3, true), optNum);
  EXPECT_DEATH(store->fetch_byframe_coarsely(0, 1, A, Weights{{B, 1.0}}, 2, 1, true), optNum);
  EXPECT_DEATH(store->register_resource(B, producer(C), true),
               "Check failed: ptr->resId\\(\\) == ptrInStore->resId\\(\\) ");
  EXPECT_DEATH(store->register_resource(
                   B, [] { return std::make_shared<Tagged>(B, "other"); }, true),
               "Check failed: ptr->resName\\(\\) == ptrInStore->resName\\(\\) ");
  EXPECT_DEATH(store->register_resource(
                   B, [] { return std::shared_ptr<ResourceBase>(); }, true),
               "Check failed: ptr ");
  EXPECT_DEATH(make_store(0)->register_resource(A, producer(A), true),
               "Check failed: not emptyList_\\.empty\\(\\)  for Zone: zone, A's emptylist");
  EXPECT_DEATH(produce_FrameResourceStore({{1, "A"}, {3, "AB"}}, 2, 1, "zone"),
               "invalid resources, please check \\(zone\\)");
}

}  // namespace
