#include <gtest/gtest.h>

#include "frss/FrameStatus.h"

namespace {

constexpr unsigned long long A = 1, B = 2, C = 4;
using Ids = std::vector<long long>;
using Groups = std::map<unsigned long long, std::set<long long>>;

class FrameStatusTest : public testing::Test {
 protected:
  FrameStatusTest()
      : ids_(std::make_shared<ResourceIdStore>(
            std::unordered_map<unsigned long long, std::string>{{A, "A"}, {B, "B"}, {C, "C"}}, "Z")),
        fs_(ids_) {}

  void claim(long long f, unsigned long long k) { fs_.change(f, k, FS_NONE, FS_BIRTH); }
  void publish(long long f, unsigned long long k) {
    claim(f, k);
    fs_.change(f, k, FS_BIRTH, FS_ALIVE);
  }
  void release(long long f, unsigned long long k) { fs_.change(f, k, FS_ALIVE, FS_DEATH); }
  void recycle(long long f, unsigned long long k) { fs_.change(f, k, FS_DEATH, FS_NONE); }
  FrameStatus::StatusMap states(long long f) const { return fs_.frameStatusResource().at(f); }

  std::shared_ptr<ResourceIdStore> ids_;
  FrameStatus fs_;
};

TEST_F(FrameStatusTest, StatusNamesComeFromOneTable) {
  EXPECT_EQ(ResStatusEnum_string(FS_NONE), "FS_NONE");
  EXPECT_EQ(ResStatusEnum_string(FS_BIRTH), "FS_BIRTH");
  EXPECT_EQ(ResStatusEnum_string(FS_ALIVE), "FS_ALIVE");
  EXPECT_EQ(ResStatusEnum_string(FS_DEATH), "FS_DEATH");
}

TEST_F(FrameStatusTest, ClaimInANewFrameLeavesASingleBirthEntry) {
  claim(7, A);
  EXPECT_EQ(states(7), (FrameStatus::StatusMap{{FS_BIRTH, A}}));
  EXPECT_TRUE(fs_.aliveFrame().empty());
  EXPECT_EQ(fs_.print(), "FrameId = 7. FS_BIRTH: Zone: Z, A\n--- ---\n=== ===\n");
  fs_.debug();
}

TEST_F(FrameStatusTest, PublishingMovesTheFrameBetweenGroups) {
  publish(7, A);
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A, {7}}}));
  EXPECT_EQ(fs_.print(),
            "FrameId = 7. FS_ALIVE: Zone: Z, A\n--- ---\n"
            "ResourceIdUnion = 1(Zone: Z, A): 7\n=== ===\n");
  claim(7, B);
  EXPECT_EQ(states(7), (FrameStatus::StatusMap{{FS_BIRTH, B}, {FS_ALIVE, A}}));
  EXPECT_EQ(fs_.print(),
            "FrameId = 7. FS_BIRTH: Zone: Z, B; FS_ALIVE: Zone: Z, A\n--- ---\n"
            "ResourceIdUnion = 1(Zone: Z, A): 7\n=== ===\n");
  fs_.change(7, B, FS_BIRTH, FS_ALIVE);
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A | B, {7}}})) << "the emptied group A is erased";
  EXPECT_EQ(fs_.resunion_status(7, FS_ALIVE), A | B);
  fs_.debug();
}

TEST_F(FrameStatusTest, RecycledKindsStayAsNoneUntilTheFrameEmpties) {
  publish(7, A);
  publish(7, B);
  publish(3, A);
  release(7, A);
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A, {3}}, {B, {7}}}));
  recycle(7, A);
  EXPECT_EQ(states(7), (FrameStatus::StatusMap{{FS_NONE, A}, {FS_ALIVE, B}}));
  EXPECT_EQ(fs_.print(),
            "FrameId = 3. FS_ALIVE: Zone: Z, A\n"
            "FrameId = 7. FS_NONE: Zone: Z, A; FS_ALIVE: Zone: Z, B\n--- ---\n"
            "ResourceIdUnion = 1(Zone: Z, A): 3\n"
            "ResourceIdUnion = 2(Zone: Z, B): 7\n=== ===\n");
  EXPECT_FALSE(fs_.id_isstale(7));
  fs_.debug();

  // A recycled kind can be claimed again in the same frame.
  claim(7, A);
  EXPECT_EQ(states(7), (FrameStatus::StatusMap{{FS_BIRTH, A}, {FS_ALIVE, B}}));
  fs_.change(7, A, FS_BIRTH, FS_ALIVE);
  release(7, A);
  recycle(7, A);
  release(7, B);
  EXPECT_EQ(states(7), (FrameStatus::StatusMap{{FS_NONE, A}, {FS_DEATH, B}}));
  recycle(7, B);
  EXPECT_EQ(fs_.idvec(), Ids{3});
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A, {3}}}));
  EXPECT_FALSE(fs_.id_isstale(7)) << "absent, not stale";
  EXPECT_EQ(fs_.resunion_status(7, FS_NONE), 0u);
  fs_.debug();
}

TEST_F(FrameStatusTest, IdQueriesListLedgerFrames) {
  publish(10, A);
  claim(-2, C);
  claim(4, B);
  EXPECT_EQ(fs_.idvec(), (Ids{-2, 4, 10}));
  EXPECT_EQ(fs_.idset(), (std::unordered_set<long long>{-2, 4, 10}));
  EXPECT_EQ(fs_.frame_count(), 3u);
  EXPECT_EQ(fs_.resunion_status(4, FS_BIRTH), B);
  EXPECT_EQ(fs_.resunion_status(4, FS_ALIVE), 0u);
  EXPECT_EQ(fs_.resunion_status(5, FS_BIRTH), 0u);
}

TEST_F(FrameStatusTest, LatestSkipsFramesWhereAnOutputIsPresentInAnyState) {
  publish(4, A);
  EXPECT_EQ(fs_.latest(A, B, nullptr), 4);
  claim(4, B);
  EXPECT_EQ(fs_.latest(A, B, nullptr), -1) << "B being written in the only frame with A";
  fs_.change(4, B, FS_BIRTH, FS_ALIVE);
  EXPECT_EQ(fs_.latest(A, B, nullptr), -1) << "B published";
  release(4, B);
  EXPECT_EQ(fs_.latest(A, B, nullptr), -1) << "B released but still held";
  recycle(4, B);
  EXPECT_EQ(fs_.latest(A, B, nullptr), 4) << "B recycled: the frame is eligible again";
}

TEST_F(FrameStatusTest, LatestFindsTheNewestEligibleFrameAcrossGroups) {
  publish(4, A);
  publish(5, A);
  publish(6, A);
  claim(6, B);
  publish(8, A);
  publish(8, C);
  publish(9, B);
  EXPECT_EQ(fs_.latest(A, B, nullptr), 8) << "group A|C contains A";
  EXPECT_EQ(fs_.latest(A, C, nullptr), 6) << "8 has C; B being written in 6 does not matter";
  EXPECT_EQ(fs_.latest(A, B | C, nullptr), 5);
  EXPECT_EQ(fs_.latest(A | C, 0, nullptr), 8);
  EXPECT_EQ(fs_.latest(0, 0, nullptr), 9) << "no inputs: any published frame";
  EXPECT_EQ(fs_.latest(A | B, 0, nullptr), -1);
  EXPECT_EQ(fs_.latest(A, B, [](long long f) { return f < 8; }), 5);
  EXPECT_EQ(fs_.latest(A, 0, [](long long f) { return f > 8; }), -1);
  // A bound equal to the newest eligible frame excludes it; one below keeps it.
  EXPECT_EQ(fs_.latest(A, 0, [](long long f) { return f > 7; }), 8);
  std::vector<long long> asked;
  fs_.latest(A, B, [&](long long f) {
    asked.push_back(f);
    return false;
  });
  EXPECT_EQ(asked, (Ids{6, 5, 4, 8})) << "groups by key, frames newest first";
}

TEST_F(FrameStatusTest, DupAliveListsOlderFramesPerIdenticalPublishedSet) {
  publish(1, A);
  publish(2, A);
  publish(3, A);
  publish(4, A);
  publish(4, B);
  publish(6, B);
  claim(7, A);
  EXPECT_EQ(fs_.dup_alive(1), (Ids{1, 2}));
  EXPECT_EQ(fs_.dup_alive(2), (Ids{1}));
  EXPECT_EQ(fs_.dup_alive(3), (Ids{}));
  EXPECT_EQ(fs_.dup_alive(0), (Ids{1, 2, 3, 6, 4})) << "groups A, B, A|B; frame 7 publishes nothing";
  Ids out{99};
  fs_.dup_alive(1, out);
  EXPECT_EQ(out, (Ids{99, 1, 2}));
}

TEST_F(FrameStatusTest, AliveGroupsIgnoreTheEmptyUnion) {
  fs_.insert_alive(3, 0);
  fs_.erase_alive(3, 0);
  EXPECT_TRUE(fs_.aliveFrame().empty());
}

TEST_F(FrameStatusTest, StaleMeansOnlyNoneLeft) {
  EXPECT_FALSE(fs_.id_isstale(1));
  claim(1, A);
  EXPECT_FALSE(fs_.id_isstale(1));
}

using FrameStatusDeathTest = FrameStatusTest;

TEST_F(FrameStatusDeathTest, ChangeToTheSameStateStops) {
  EXPECT_DEATH(fs_.change(1, A, FS_ALIVE, FS_ALIVE), "Check failed: src != dst \\(2 vs\\. 2\\)");
  EXPECT_DEATH(fs_.change(1, A, FS_NONE, FS_NONE), "Check failed: src != dst \\(0 vs\\. 0\\)");
}

TEST_F(FrameStatusDeathTest, OutOfOrderChangesStopWithTheLedger) {
  EXPECT_DEATH(fs_.change(3, A, FS_BIRTH, FS_ALIVE),
               "Check failed: valid \nid = 3, res = Zone: Z, A, src = FS_BIRTH, dst = FS_ALIVE, resource "
               "check failed\\.\n--- ---\n=== ===");
  publish(3, A);
  EXPECT_DEATH(
      claim(3, A),
      "Check failed: valid \nid = 3, res = Zone: Z, A, src = FS_NONE, dst = FS_BIRTH, resource check "
      "failed\\.\nFrameId = 3\\. FS_NONE: Zone: Z, A; FS_ALIVE: Zone: Z, A\n");
  EXPECT_DEATH(recycle(3, A),
               "Check failed: valid \nid = 3, res = Zone: Z, A, src = FS_DEATH, dst = FS_NONE");
  EXPECT_DEATH(release(3, B),
               "Check failed: valid \nid = 3, res = Zone: Z, B, src = FS_ALIVE, dst = FS_DEATH");
}

TEST_F(FrameStatusDeathTest, GroupMisuseStops) {
  publish(3, A);
  EXPECT_DEATH(fs_.insert_alive(3, A),
               "Check failed: it == aliveFrame_\\[resunion\\]\\.end\\(\\) for id\\(3\\), "
               "resunion\\(1\\)");
  EXPECT_DEATH(fs_.erase_alive(4, A),
               "Check failed: it != aliveFrame_\\[resunion\\]\\.end\\(\\) for id\\(4\\), "
               "resunion\\(1\\)");
  EXPECT_DEATH(fs_.erase_alive(3, 6),
               "Check failed: it != aliveFrame_\\[resunion\\]\\.end\\(\\) for id\\(3\\), "
               "resunion\\(6\\)");
  EXPECT_DEATH(ResStatusEnum_string(static_cast<ResStatusEnum>(7)),
               "Check failed: it != mapEnum2Str\\.end\\(\\) 7");
}

TEST_F(FrameStatusDeathTest, DebugFindsInconsistentGroups) {
  publish(7, A);
  EXPECT_DEATH(
      {
        fs_.insert_alive(99, A);
        fs_.debug();
      },
      "Check failed: fsrp != frameStatusResource_\\.end\\(\\) frameId = 99, resunion = 1");
  EXPECT_DEATH(
      {
        fs_.insert_alive(99, A);
        fs_.latest(A, 0, nullptr);
      },
      "Check failed: itresmap != frameStatusResource_\\.end\\(\\) ");
  EXPECT_DEATH(
      {
        fs_.insert_alive(7, B);
        fs_.debug();
      },
      "Check failed: resunion == sep->second \\(2 vs\\. 1\\) frameId = 7, resunion = 2");
  EXPECT_DEATH(
      {
        fs_.erase_alive(7, A);
        fs_.debug();
      },
      "Check failed: afp != aliveFrame_\\.end\\(\\) frameId = 7, resunion = 1");
  publish(8, A);
  EXPECT_DEATH(
      {
        fs_.erase_alive(7, A);
        fs_.debug();
      },
      "Check failed: afp->second\\.find\\(frameId\\) != afp->second\\.end\\(\\) frameId = 7, resunion = 1");
}

}  // namespace
