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
const std::unordered_map<unsigned long long, std::string> kNames = {{A, "A"}, {B, "B"}, {C, "C"}, {D, "D"}};

// A resource with a payload that clean_content() resets.
class Tagged : public ResourceBase {
 public:
  Tagged(unsigned long long id, const std::string& name) : ResourceBase(id, name, "none") {}
  void clean_content() override { payload = -1; }
  long long payload = -1;
};

long long payload(const std::shared_ptr<ResourceBase>& p) { return static_cast<Tagged&>(*p).payload; }

FrameResourceStore::Producer producer(unsigned long long id, int* made = nullptr) {
  return [id, made]() -> std::shared_ptr<ResourceBase> {
    if (made) ++*made;
    return std::make_shared<Tagged>(id, kNames.at(id));
  };
}

// A store over A..D with A, B and C registered (D is defined but not registered).
std::shared_ptr<FrameResourceStore> make_store(int32_t capacity, int32_t dupAliveKept) {
  auto store = produce_FrameResourceStore(kNames, capacity, dupAliveKept, "zone");
  for (unsigned long long id : {A, B, C}) store->register_resource(id, producer(id), false);
  return store;
}

void publish(FrameResourceStore& store, long long f, unsigned long long kinds) {
  auto m = store.tobe_written(f, kinds, false, 0);
  for (auto& item : m) static_cast<Tagged&>(*item.second).payload = f;
  store.have_written(f, kinds);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------------------------------------
// Registration and write path

TEST(FrameResourceStoreTest, ConstructionAndRegistrationLog) {
  LogCapture log;
  auto store = produce_FrameResourceStore(kNames, 3, 1, "zone");
  EXPECT_EQ(log.count("FrameResourceStoreDetail ctor, capacity = 3, dupAliveKept = 1"), 1);
  int made = 0;
  store->register_resource(B, producer(B, &made), false);
  EXPECT_EQ(made, 3);
  EXPECT_EQ(log.count("FrameResourceShared Zone: zone, B ctor"), 1);
  EXPECT_EQ(store->capacity(), 3);
  EXPECT_EQ(store->pResourceIdStore()->zone(), "zone");
  EXPECT_EQ(store->frame_range(), (Ids{-1, -1}));
}

TEST(FrameResourceStoreTest, RegisteringAgainKeepsTheFirstPool) {
  auto store = make_store(2, 1);
  publish(*store, 5, A);
  int made = 0;
  store->register_resource(A, producer(A, &made), false);
  EXPECT_EQ(made, 0);
  store->register_resource(A, producer(A, &made), true);
  EXPECT_EQ(made, 1) << "verification makes one resource to compare";
  EXPECT_EQ(payload(store->fetch_byframe(5, A).at(A)), 5);
  EXPECT_TRUE(contains(store->print(), "Zone: zone, A's emptylist size = 1\n"));
  store->debug();
}

TEST(FrameResourceStoreTest, ClaimsPublishesAndFetches) {
  auto store = make_store(2, 1);
  auto claimed = store->tobe_written(10, A | B, false, 0);
  ASSERT_EQ(claimed.size(), 2u);
  EXPECT_EQ(claimed.at(A)->readCnt(), -1);
  EXPECT_TRUE(store->fetch_byframe(10, A).at(A) == nullptr) << "not published yet";
  static_cast<Tagged&>(*claimed.at(A)).payload = 10;
  store->have_written(10, A);
  auto read = store->fetch_byframe(10, A | B | C);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(payload(read.at(A)), 10);
  EXPECT_EQ(read.at(A)->readCnt(), 1);
  EXPECT_FALSE(read.at(B)) << "B is still being written";
  EXPECT_FALSE(read.at(C)) << "C was never claimed";
  EXPECT_EQ(store->fetch_byframe(10, A).at(A)->readCnt(), 2);
  store->debug();
}

TEST(FrameResourceStoreTest, ClaimForAPresentFrameNeedsNoSeat) {
  auto store = make_store(2, 1);
  publish(*store, 10, A);
  publish(*store, 11, A);
  publish(*store, 11, B);
  EXPECT_EQ(store->frame_ids(), (Ids{10, 11}));
  publish(*store, 12, A);
  EXPECT_EQ(store->frame_ids(), (Ids{11, 12})) << "the oldest frame, unheld, is evicted";
  store->debug();
}

TEST(FrameResourceStoreTest, EvictsOldestUnheldFrameWhenFull) {
  auto store = make_store(2, 1);
  publish(*store, 10, A);
  publish(*store, 11, B);
  auto held = store->fetch_byframe(10, A);
  store->tobe_written(12, A, false, 0);
  EXPECT_EQ(store->frame_ids(), (Ids{10, 12})) << "a reader pins frame 10";
  store->debug();
}

TEST(FrameResourceStoreTest, EvictsOlderDuplicatesFirst) {
  auto store = make_store(4, 1);
  publish(*store, 1, A | B);
  publish(*store, 2, A);
  publish(*store, 3, A);
  publish(*store, 4, A);
  publish(*store, 5, C);
  EXPECT_EQ(store->frame_ids(), (Ids{1, 3, 4, 5})) << "2 is the oldest of three frames publishing only A";
  store->debug();
}

TEST(FrameResourceStoreTest, EmptyUnionStillAsksForASeat) {
  auto store = make_store(1, 1);
  publish(*store, 10, A);
  EXPECT_TRUE(store->tobe_written(11, 0, false, 0).empty());
  EXPECT_TRUE(store->tobe_written(11, 16 | 32, false, 0).empty()) << "no defined kind";
  EXPECT_EQ(store->frame_ids(), Ids{}) << "frame 10 made room, frame 11 was never created";
}

TEST(FrameResourceStoreTest, StaleFrameWithClaimsIsRecycledWithAnError) {
  auto store = make_store(1, 1);
  LogCapture log(google::GLOG_ERROR);
  store->tobe_written(10, A, false, 0);  // claimed, never published, the map is gone
  publish(*store, 11, B);
  ASSERT_EQ(log.count("FRSS ERROR: a stale frame(10) has FS_BIRTH resources: Zone: zone, A\nFrameId = 10. "
                      "FS_BIRTH: Zone: zone, A\n"),
            1);
  EXPECT_EQ(store->frame_ids(), Ids{11});
  EXPECT_TRUE(contains(store->print(), "Zone: zone, A's emptylist size = 1\n"));
  store->debug();
}

TEST(FrameResourceStoreTest, UndoWrittenReleasesWithoutPublishing) {
  auto store = make_store(2, 1);
  auto claimed = store->tobe_written(10, A | B, false, 0);
  claimed.clear();
  store->undo_written(10, A);
  EXPECT_FALSE(store->fetch_byframe(10, A).at(A));
  EXPECT_EQ(store->frame_ids(), Ids{10}) << "B is still being written";
  store->undo_written(10, B);
  EXPECT_EQ(store->frame_ids(), Ids{}) << "nobody held them: recycled at once";

  auto kept = store->tobe_written(11, A, false, 0);
  store->undo_written(11, A);
  EXPECT_TRUE(contains(store->print(), "FrameId = 11. FS_DEATH: Zone: zone, A\n"))
      << "the claimer still holds it";
  kept.clear();
  publish(*store, 12, A);
  publish(*store, 13, A);
  EXPECT_EQ(store->frame_ids(), (Ids{12, 13}));
  store->debug();
}

TEST(FrameResourceStoreTest, WaitingClaimRetriesUntilAReaderReleases) {
  auto store = make_store(1, 1);
  publish(*store, 10, A);
  auto held = std::make_shared<MapResId2ResBasePtr>(store->fetch_byframe(10, A));
  LogCapture log(google::GLOG_ERROR);
  std::thread reader([&] {
    while (log.count("cannot tobe_written resources: Zone: zone, A") < 3) std::this_thread::yield();
    held.reset();
  });
  auto claimed = store->tobe_written(11, A, true, 1);
  reader.join();
  EXPECT_EQ(claimed.size(), 1u);
  EXPECT_EQ(store->frame_ids(), Ids{11});
  EXPECT_EQ(log.count("FRSS seats"), 1) << "at most once per second";
  EXPECT_EQ(log.count("FRSS seats (zone, capacity 1) held by 1 frames: frame 10 [A FS_ALIVE by 1 holder(s)]"),
            1);
}

TEST(FrameResourceStoreTest, BorrowUsesPlaceholderFramesBelowEveryFrame) {
  auto store = make_store(4, 1);
  auto first = store->borrow(A, false, 0);
  ASSERT_EQ(first->size(), 1u);
  EXPECT_EQ(store->frame_ids(), Ids{-2});
  auto second = store->borrow(A | B, false, 0);
  EXPECT_EQ(second->size(), 2u);
  EXPECT_EQ(store->frame_ids(), (Ids{-3, -2}));
  first.reset();
  EXPECT_TRUE(contains(store->print(), "FrameId = -2. FS_DEATH: Zone: zone, A\n"))
      << "released while the map still referenced it";
  second.reset();
  publish(*store, 5, A);
  publish(*store, 6, B);
  publish(*store, 7, C);
  EXPECT_EQ(store->frame_ids(), (Ids{-2, 5, 6, 7})) << "the oldest placeholder made room";
  publish(*store, 8, A | B);
  EXPECT_EQ(store->frame_ids(), (Ids{5, 6, 7, 8}));
  EXPECT_TRUE(contains(store->print(), "Zone: zone, A's emptylist size = 2\n"));
  EXPECT_TRUE(contains(store->print(), "Zone: zone, B's emptylist size = 2\n"));
  store->debug();
}

TEST(FrameResourceStoreTest, BorrowPlaceholderFollowsTheOldestFrame) {
  auto store = make_store(4, 1);
  publish(*store, 5, A);
  auto first = store->borrow(A, false, 0);
  EXPECT_EQ(store->frame_ids(), (Ids{-2, 5}));
  auto second = store->borrow(B, false, 0);
  EXPECT_EQ(store->frame_ids(), (Ids{-3, -2, 5}));
  EXPECT_TRUE(store->borrow(0, false, 0)->empty());
  EXPECT_EQ(store->frame_ids(), (Ids{-3, -2, 5})) << "an empty borrow creates no placeholder frame";
}

TEST(FrameResourceStoreTest, BorrowedMapKeepsTheStoreAlive) {
  std::weak_ptr<FrameResourceStore> weak;
  std::shared_ptr<MapResId2ResBasePtr> borrowed;
  {
    auto store = make_store(2, 1);
    weak = store;
    borrowed = store->borrow(A, false, 0);
  }
  EXPECT_FALSE(weak.expired());
  borrowed.reset();
  EXPECT_TRUE(weak.expired());
}

TEST(FrameResourceStoreTest, BorrowWorksOnAStoreNotOwnedByASharedPointer) {
  FrameResourceStoreDetail store(kNames, 2, 1, "zone");
  store.register_resource(A, producer(A), false);
  store.borrow(A, false, 0).reset();
  EXPECT_EQ(store.frame_ids(), Ids{-2});
  store.debug();
}

TEST(FrameResourceStoreTest, AreRegisteredKeepsDefinedAndRegisteredKinds) {
  auto store = make_store(2, 1);
  EXPECT_EQ(store->are_registered(A | C | D | 16), A | C);
  EXPECT_EQ(store->are_registered(std::vector<unsigned long long>{D, C, 16, A}),
            (std::vector<unsigned long long>{C, A}));
  EXPECT_EQ(store->are_registered(0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Read path and clean-up

TEST(FrameResourceStoreTest, DropRecyclesUnheldKindsAtOnce) {
  auto store = make_store(3, 1);
  publish(*store, 4, A | B);
  auto held = store->fetch_byframe(4, B);
  store->drop(4, A | B);
  EXPECT_TRUE(contains(store->print(), "FrameId = 4. FS_NONE: Zone: zone, A; FS_DEATH: Zone: zone, B\n"));
  EXPECT_FALSE(store->fetch_byframe(4, B).at(B)) << "dropped kinds are no longer readable";
  EXPECT_EQ(payload(held.at(B)), 4) << "the reader keeps using it";
  held.clear();
  publish(*store, 5, A);
  publish(*store, 6, B);
  publish(*store, 7, C);
  EXPECT_EQ(store->frame_ids(), (Ids{5, 6, 7})) << "the oldest frame leaves, its dead B recycled";
  store->debug();
}

TEST(FrameResourceStoreTest, CoarseFetchPrefersMoreResourcesUnlessFirstFit) {
  auto store = make_store(4, 1);
  publish(*store, 9, A | B | C);
  publish(*store, 10, A | B);
  CombFidMapResBase most = store->fetch_byframe_coarsely(0, 20, A, B | C, 1, false);
  EXPECT_EQ(most.frameId, 9);
  EXPECT_EQ(most.tag, "none");
  EXPECT_EQ(most.mapRes.size(), 3u);
  EXPECT_EQ(payload(most.mapRes.at(C)), 9);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, B | C, 1, true).frameId, 10);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, B | C, 2, true).frameId, 9);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A | C, 0, 0, false).frameId, 9);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 9, A, B, 1, false).frameId, 9) << "range bounds are inclusive";
  EXPECT_EQ(store->fetch_byframe_coarsely(10, 10, A, 0, 0, false).frameId, 10);
  // Every probed resource was counted, also of the frames not chosen.
  EXPECT_EQ(store->fetch_byframe(10, A).at(A)->readCnt(), 6);
}

TEST(FrameResourceStoreTest, CoarseFetchTieKeepsTheNewerFrame) {
  auto store = make_store(4, 1);
  publish(*store, 9, A | B);
  publish(*store, 10, A | B);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, B, 1, false).frameId, 10);
}

TEST(FrameResourceStoreTest, CoarseFetchWithoutQualifyingFrameReturnsNone) {
  auto store = make_store(4, 1);
  publish(*store, 9, A);
  CombFidMapResBase none = store->fetch_byframe_coarsely(0, 20, A | B, 0, 0, true);
  EXPECT_EQ(none.frameId, -1);
  EXPECT_EQ(none.tag, "none");
  EXPECT_TRUE(none.mapRes.empty());
  EXPECT_EQ(store->fetch_byframe_coarsely(10, 20, A, 0, 0, true).frameId, -1);
  EXPECT_EQ(store->fetch_byframe_coarsely(20, 0, A, 0, 0, true).frameId, -1) << "empty range";
  // No mandatory kinds and optNum 0: every probed frame qualifies with an empty map.
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, 0, B, 0, true).frameId, 20);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, 0, B, 0, false).frameId, -1);
  EXPECT_EQ(store->fetch_byframe_coarsely(LLONG_MIN, LLONG_MIN + 2, 0, 0, 0, true).frameId, LLONG_MIN + 2);
  EXPECT_EQ(store->fetch_byframe_coarsely(LLONG_MIN, LLONG_MIN, A, 0, 0, true).frameId, -1);
}

TEST(FrameResourceStoreTest, WeightedFetchScoresCandidates) {
  auto store = make_store(4, 1);
  publish(*store, 8, A);
  publish(*store, 9, A | B | C);
  publish(*store, 10, A | B);
  const std::unordered_map<unsigned long long, double> half = {{B, 0.5}, {C, 0.5}};
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, half, 1, 5, false).frameId, 9);
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, half, 1, 1, false).frameId, 10) << "one candidate only";
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, half, 1, 0, false).frameId, 10) << "at least one";
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, half, 1, 5, true).frameId, 10) << "10.5 beats 10.0";
  const std::unordered_map<unsigned long long, double> onlyB = {{B, 1.0}, {C, 0.0}};
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A, onlyB, 1, 5, false).frameId, 10) << "tie: the newer";
  const std::unordered_map<unsigned long long, double> mustCounts = {{A, 5.0}, {C, 0.1}};
  CombFidMapResBase best = store->fetch_byframe_coarsely(0, 20, A, mustCounts, 0, 5, false);
  EXPECT_EQ(best.frameId, 9);
  EXPECT_EQ(best.mapRes.size(), 2u) << "A and the optional C";
  EXPECT_EQ(store->fetch_byframe_coarsely(0, 20, A | C, half, 2, 5, false).frameId, 9);
  EXPECT_EQ(store->fetch_byframe_coarsely(11, 20, A, half, 0, 5, false).frameId, -1);
}

TEST(FrameResourceStoreTest, FetchByUnionBindsTheNewestFrameWithoutTheOutputs) {
  auto store = make_store(4, 1);
  publish(*store, 4, A);
  publish(*store, 5, A);
  publish(*store, 6, A);
  CombFidMapResBaseRW first = store->fetch_byunion(A, B, 4LL, 0);
  EXPECT_EQ(first.frameId, 6);
  EXPECT_EQ(first.tag, "none");
  EXPECT_EQ(payload(first.mapRead.at(A)), 6);
  EXPECT_EQ(first.mapWrite.at(B)->readCnt(), -1);
  CombFidMapResBaseRW second = store->fetch_byunion(A, B, 4LL, 0);
  EXPECT_EQ(second.frameId, 5) << "frame 6 has B being written";
  EXPECT_EQ(store->fetch_byunion(A, B, 5LL, 0).frameId, -1);
  store->have_written(6, B);
  second = CombFidMapResBaseRW();  // drop the claim before undoing it: recycled at once
  store->undo_written(5, B);
  EXPECT_EQ(store->fetch_byunion(A, B, 4LL, 0).frameId, 5) << "the undone frame is eligible again";
  store->debug();
}

TEST(FrameResourceStoreTest, FetchByUnionBoundAndExcludedSet) {
  auto store = make_store(4, 1);
  publish(*store, 7, A);
  publish(*store, 8, A);
  EXPECT_EQ(store->fetch_byunion(A, 0, 8LL, 0).frameId, -1) << "bound equal to the newest frame";
  EXPECT_EQ(store->fetch_byunion(A, 0, 7LL, 0).frameId, 8);
  EXPECT_EQ(store->fetch_byunion(A, 0, std::unordered_set<long long>{8}, 0).frameId, 7);
  EXPECT_EQ(store->fetch_byunion(A, 0, std::unordered_set<long long>{7, 8}, 0).frameId, -1);
  EXPECT_EQ(store->fetch_byunion(A, 0, FrameResourceStore::FrameIdPredicate(), 0).frameId, 8);
}

TEST(FrameResourceStoreTest, FetchByUnionWaitsForTheOutputToBeRecycled) {
  auto store = make_store(4, 1);
  publish(*store, 3, A);
  store->tobe_written(3, B, false, 0);
  EXPECT_EQ(store->fetch_byunion(A, B, -1LL, 0).frameId, -1);
  store->have_written(3, B);
  auto reader = store->fetch_byframe(3, B);
  store->drop(3, B);
  EXPECT_EQ(store->fetch_byunion(A, B, -1LL, 0).frameId, -1) << "B released but still held";
  reader.clear();
  EXPECT_EQ(store->fetch_byunion(A, B, -1LL, 0).frameId, -1) << "not recycled until the frame is dropped";
  publish(*store, 9, A | C);
  publish(*store, 10, B);
  publish(*store, 11, C);
  publish(*store, 12, A | B);
  EXPECT_EQ(store->frame_ids(), (Ids{9, 10, 11, 12}));
}

TEST(FrameResourceStoreTest, FetchByUnionRebindsAfterDropAndRecycle) {
  auto store = make_store(4, 1);
  publish(*store, 3, A | B);
  EXPECT_EQ(store->fetch_byunion(A, B, -1LL, 0).frameId, -1);
  store->drop(3, B);
  CombFidMapResBaseRW bound = store->fetch_byunion(A, B, -1LL, 0);
  EXPECT_EQ(bound.frameId, 3);
  EXPECT_EQ(bound.mapWrite.size(), 1u);
}

TEST(FrameResourceStoreTest, CandidatePredicateReleasesRejectedClaimsAtOnce) {
  auto store = make_store(4, 1);
  publish(*store, 4, A);
  publish(*store, 5, A);
  publish(*store, 6, A | C);
  std::vector<long long> seen;
  CombFidMapResBaseRW bound = store->fetch_byunion(
      A, B,
      [&](const CombFidMapResBaseRW* c) {
        seen.push_back(c->frameId);
        EXPECT_EQ(payload(c->mapRead.at(A)), c->frameId);
        EXPECT_EQ(c->mapWrite.count(B), 1u);
        return c->frameId == 4;
      },
      0);
  EXPECT_EQ(seen, (Ids{6, 5, 4}));
  EXPECT_EQ(bound.frameId, 4);
  EXPECT_EQ(bound.mapWrite.size(), 1u);
  const std::string printed = store->print();
  EXPECT_TRUE(contains(printed, "FrameId = 5. FS_NONE: Zone: zone, B; FS_ALIVE: Zone: zone, A\n"))
      << "the rejected claim is already recycled\n"
      << printed;
  EXPECT_TRUE(contains(printed, "Zone: zone, B's emptylist size = 3\n"));
  EXPECT_EQ(store->fetch_byunion(A, B, 4LL, 0).frameId, 6) << "rejected frames are eligible again";
  EXPECT_EQ(store->fetch_byunion(A, 0, FrameResourceStore::CandidatePredicate(), 0).frameId, 6);
  store->debug();
}

TEST(FrameResourceStoreTest, CandidatePredicateNeedsEveryInputPublished) {
  auto store = make_store(4, 1);
  publish(*store, 4, A | C);
  publish(*store, 5, A);
  store->tobe_written(6, A, false, 0);
  auto none = [](const CombFidMapResBaseRW*) { return true; };
  EXPECT_EQ(store->fetch_byunion(A | C, B, none, 0).frameId, 4);
  EXPECT_EQ(store->fetch_byunion(A, C, none, 0).frameId, 5) << "6 has A being written; 4 has C";
  EXPECT_EQ(store->fetch_byunion(A, B, none, 0).frameId, 5) << "4 has B claimed above";
}

TEST(FrameResourceStoreTest, VerboseFetchExplainsAMiss) {
  auto store = make_store(2, 1);
  LogCapture log;
  const std::string why = "fetch resunionInclude = Zone: zone, A, resunionExclude = Zone: zone, B";
  store->fetch_byunion(A, B, 0LL, 0);
  EXPECT_EQ(log.count(why), 0);
  store->fetch_byunion(A, B, 0LL, 1);
  EXPECT_EQ(log.count(why), 1);
  store->fetch_byunion(A, B, 0LL, 2);
  EXPECT_EQ(log.count(why + "\n--- ---\n=== ===\nZone: zone, A's emptylist size = 2\n"), 1);
  auto reject = [](const CombFidMapResBaseRW*) { return false; };
  store->fetch_byunion(A, B, reject, 1);
  EXPECT_EQ(log.count(why), 3);
  const size_t before = log.lines().size();
  store->fetch_byunion(A, B, 0LL, -1);
  ASSERT_EQ(log.lines().size(), before + 1);
  EXPECT_EQ(log.lines().back(), "") << "a negative verbose logs an empty line";
}

TEST(FrameResourceStoreTest, CleanupActivelyDependsOnTheFillLevel) {
  auto store = make_store(8, 1);
  publish(*store, 1, A);
  publish(*store, 2, A);
  publish(*store, 3, A);
  store->cleanup_actively(0.5f);
  EXPECT_EQ(store->frame_ids(), (Ids{1, 2, 3})) << "3 frames < 8 * 0.5";
  publish(*store, 4, A);
  store->cleanup_actively(1.5f);
  store->cleanup_actively(std::nanf(""));
  EXPECT_EQ(store->frame_ids(), (Ids{1, 2, 3, 4}));
  store->cleanup_actively(0.5f);
  EXPECT_EQ(store->frame_ids(), Ids{4});
  publish(*store, 5, B);
  store->cleanup_actively(0.0f);
  EXPECT_EQ(store->frame_ids(), (Ids{4, 5})) << "no duplicates left";
  publish(*store, 6, B);
  auto held = store->fetch_byframe(5, B);
  store->cleanup_actively(0.0f);
  EXPECT_EQ(store->frame_ids(), (Ids{4, 5, 6})) << "a held duplicate stays";
  store->debug();
}

TEST(FrameResourceStoreTest, FrameRangeAndIds) {
  auto store = make_store(4, 1);
  publish(*store, 12, A);
  store->tobe_written(7, B, false, 0);
  auto borrowed = store->borrow(C, false, 0);
  EXPECT_EQ(store->frame_range(), (Ids{-2, 12}));
  EXPECT_EQ(store->frame_ids(), (Ids{-2, 7, 12}));
}

TEST(FrameResourceStoreTest, PrintShowsLedgerAndPoolsWithOutsideHolders) {
  auto store = produce_FrameResourceStore(kNames, 2, 1, "zone");
  store->register_resource(A, producer(A), false);
  publish(*store, 3, A);
  auto held = store->fetch_byframe(3, A);
  EXPECT_EQ(store->print(),
            "FrameResourceStoreDetail print\n"
            "FrameId = 3. FS_ALIVE: Zone: zone, A\n"
            "--- ---\n"
            "ResourceIdUnion = 1(Zone: zone, A): 3\n"
            "=== ===\n"
            "Zone: zone, A's emptylist size = 1\n"
            "Zone: zone, A's birthMap size = 0, IDs:\n"
            "Zone: zone, A's aliveMap size = 1, IDs: 3(1)\n"
            "Zone: zone, A's deathMap size = 0, IDs:\n"
            "--- ---\n"
            "###########################\n");
}

// ---------------------------------------------------------------------------------------------
// Fatal messages

TEST(FrameResourceStoreDeathTest, NoSeatWithoutWaitingStops) {
  auto store = make_store(1, 1);
  publish(*store, 10, A);
  auto held = store->fetch_byframe(10, A);
  EXPECT_DEATH(store->tobe_written(11, A | B, false, 0),
               "cannot tobe_written resources: Zone: zone, [AB],[AB]");
  EXPECT_DEATH(store->borrow(C, false, 0), "cannot borrow resources: Zone: zone, C");
  EXPECT_DEATH(store->tobe_written(11, 0, false, 0),
               "FRSS seats \\(zone, capacity 1\\) held by 1 frames: frame 10 "
               "\\[A FS_ALIVE by 1 holder\\(s\\)\\]");
}

TEST(FrameResourceStoreDeathTest, UnregisteredKindStops) {
  auto store = make_store(2, 1);
  EXPECT_DEATH(store->tobe_written(1, D, false, 0),
               "Check failed: it != resourceMap_\\.end\\(\\) Zone: zone, D has not been registered");
  EXPECT_DEATH(store->fetch_byframe(1, D),
               "Check failed: it != resourceMap_\\.end\\(\\) Zone: zone, D has not been registered");
  EXPECT_DEATH(store->fetch_byframe_coarsely(0, 1, 0, {{16, 1.0}}, 0, 1, false),
               "Check failed: it != resourceMap_\\.end\\(\\) Zone: zone,  has not been registered");
}

TEST(FrameResourceStoreDeathTest, OutOfOrderStateChangesStop) {
  auto store = make_store(2, 1);
  publish(*store, 1, A);
  EXPECT_DEATH(store->tobe_written(1, A, false, 0),
               "Check failed: valid \nid = 1, res = Zone: zone, A, src = "
               "FS_NONE, dst = FS_BIRTH, resource check failed\\.");
  EXPECT_DEATH(store->have_written(1, B),
               "Check failed: valid \nid = 1, res = Zone: zone, B, src = FS_BIRTH");
  EXPECT_DEATH(store->drop(1, B), "Check failed: valid \nid = 1, res = Zone: zone, B, src = FS_ALIVE");
  EXPECT_DEATH(store->undo_written(1, A),
               "Check failed: valid \nid = 1, res = Zone: zone, A, src = FS_BIRTH");
}

TEST(FrameResourceStoreDeathTest, CoarseFetchNeedsEnoughOptionalKinds) {
  auto store = make_store(2, 1);
  EXPECT_DEATH(store->fetch_byframe_coarsely(0, 1, A, B | D | 16, 3, true),
               "Check failed: itemsOpt\\.size\\(\\) >= optNum ");
  EXPECT_DEATH(store->fetch_byframe_coarsely(0, 1, A, {{B, 1.0}}, 2, 1, true),
               "Check failed: itemsOpt\\.size\\(\\) >= optNum ");
}

TEST(FrameResourceStoreDeathTest, VerificationRejectsADifferentProducer) {
  auto store = make_store(2, 1);
  EXPECT_DEATH(store->register_resource(A, producer(B), true),
               "Check failed: ptr->resId\\(\\) == ptrInStore->resId\\(\\) ");
  EXPECT_DEATH(store->register_resource(
                   A, [] { return std::make_shared<Tagged>(A, "other"); }, true),
               "Check failed: ptr->resName\\(\\) == ptrInStore->resName\\(\\) ");
  EXPECT_DEATH(store->register_resource(
                   A, [] { return std::shared_ptr<ResourceBase>(); }, true),
               "Check failed: ptr ");
  EXPECT_DEATH(
      {
        auto empty = produce_FrameResourceStore(kNames, 0, 1, "zone");
        empty->register_resource(A, producer(A), false);
        empty->register_resource(A, producer(A), true);
      },
      "Check failed: not emptyList_\\.empty\\(\\)  for Zone: zone, A's emptylist");
}

TEST(FrameResourceStoreDeathTest, OverlappingIdentifiersStop) {
  EXPECT_DEATH(produce_FrameResourceStore({{1, "A"}, {3, "AB"}}, 2, 1, "zone"),
               "invalid resources, please check \\(zone\\)");
}

}  // namespace
