#include <gtest/gtest.h>

#include "frss/FrameStatus.h"

namespace {

constexpr unsigned long long A = 1, B = 2, C = 4;
using Ids = std::vector<long long>;
using Groups = std::map<unsigned long long, std::set<long long>>;
using States = FrameStatus::StatusMap;

class FrameStatusTest : public testing::Test {
 protected:
  FrameStatusTest()
      : fs_(std::make_shared<ResourceIdStore>(
            std::unordered_map<unsigned long long, std::string>{{A, "A"}, {B, "B"}, {C, "C"}}, "Z")) {}
  void claim(long long f, unsigned long long k) { fs_.change(f, k, FS_NONE, FS_BIRTH); }
  void publish(long long f, unsigned long long k) {
    claim(f, k);
    fs_.change(f, k, FS_BIRTH, FS_ALIVE);
  }
  void release(long long f, unsigned long long k) { fs_.change(f, k, FS_ALIVE, FS_DEATH); }
  void recycle(long long f, unsigned long long k) { fs_.change(f, k, FS_DEATH, FS_NONE); }
  States states(long long f) const { return fs_.frameStatusResource().at(f); }
  FrameStatus fs_;
};

TEST_F(FrameStatusTest, StatesMoveBetweenGroupsAndRecycledKindsStayAsNone) {
  claim(7, A);
  EXPECT_EQ(states(7), (States{{FS_BIRTH, A}}));
  EXPECT_FALSE(fs_.id_isstale(7));
  fs_.change(7, A, FS_BIRTH, FS_ALIVE);
  claim(7, B);
  EXPECT_EQ(fs_.print(),
            "FrameId = 7. FS_BIRTH: Zone: Z, B; FS_ALIVE: Zone: Z, A\n--- ---\n"
            "ResourceIdUnion = 1(Zone: Z, A): 7\n=== ===\n");
  fs_.change(7, B, FS_BIRTH, FS_ALIVE);
  publish(3, A);
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A, {3}}, {A | B, {7}}})) << "the emptied group A|... moves";
  release(7, A);
  recycle(7, A);
  EXPECT_EQ(states(7), (States{{FS_NONE, A}, {FS_ALIVE, B}}));
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A, {3}}, {B, {7}}}));
  EXPECT_EQ(fs_.resunion_status(7, FS_NONE), A);
  fs_.debug();
  claim(7, A);  // a recycled kind can be claimed again
  EXPECT_EQ(states(7), (States{{FS_BIRTH, A}, {FS_ALIVE, B}}));
  fs_.change(7, A, FS_BIRTH, FS_ALIVE);
  release(7, A);
  release(7, B);
  recycle(7, A);
  EXPECT_EQ(states(7), (States{{FS_NONE, A}, {FS_DEATH, B}}));
  recycle(7, B);
  EXPECT_EQ(fs_.idvec(), Ids{3}) << "a frame with nothing but FS_NONE is erased";
  EXPECT_EQ(fs_.aliveFrame(), (Groups{{A, {3}}}));
  EXPECT_EQ(fs_.resunion_status(7, FS_NONE), 0u);
  claim(-2, C);
  EXPECT_EQ(fs_.idset(), (std::unordered_set<long long>{-2, 3}));
  EXPECT_EQ(fs_.idvec(), (Ids{-2, 3}));
  EXPECT_EQ(ResStatusEnum_string(FS_DEATH), "FS_DEATH");
  fs_.debug();
}

TEST_F(FrameStatusTest, LatestFindsTheNewestFrameWithInputsPublishedAndOutputsAbsent) {
  publish(4, A);
  publish(5, A);
  publish(6, A);
  claim(6, B);
  publish(8, A);
  publish(8, C);
  publish(9, B);
  publish(10, A);
  publish(10, B);
  release(10, B);
  // clang-format off
  struct Row { unsigned long long include, exclude; long long bound, frame; } rows[] = {
      {A, B, -1, 8}, {A, C, -1, 10}, {A, B | C, -1, 5} /* 6: B claimed, 10: B released */, {A | C, 0, -1, 8},
      {0, 0, -1, 10}, {A | B, 0, -1, -1}, {B, 0, -1, 9}, {A, C, 9, 10}, {A, C, 10, -1}, {A, B | C, 4, 5}, {A, B | C, 5, -1}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(&row - rows);
    EXPECT_EQ(fs_.latest(row.include, row.exclude, [&](long long f) { return f > row.bound; }), row.frame);
  }
  EXPECT_EQ(fs_.latest(A, B, nullptr), 8);
  Ids asked;
  fs_.latest(A, B, [&](long long f) {
    asked.push_back(f);
    return false;
  });
  EXPECT_EQ(asked, (Ids{10, 6, 5, 4, 8})) << "groups by key, frames newest first";
}

TEST_F(FrameStatusTest, DupAliveListsOlderFramesPerIdenticalPublishedSet) {
  for (long long f : {1, 2, 3, 4}) publish(f, A);
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
  fs_.insert_alive(3, 0);  // the empty union forms no group
  fs_.erase_alive(3, 0);
  EXPECT_EQ(fs_.aliveFrame().size(), 3u);
}

using FrameStatusDeathTest = FrameStatusTest;

TEST_F(FrameStatusDeathTest, OutOfOrderChangesAndBrokenGroupsStop) {
  const std::string valid = "Check failed: valid \nid = 3, res = Zone: Z, ";
  EXPECT_DEATH(fs_.change(1, A, FS_ALIVE, FS_ALIVE), "Check failed: src != dst \\(2 vs\\. 2\\)");
  EXPECT_DEATH(fs_.change(3, A, FS_BIRTH, FS_ALIVE),
               valid + "A, src = FS_BIRTH, dst = FS_ALIVE, resource check failed\\.\n--- ---\n=== ===");
  publish(3, A);
  EXPECT_DEATH(claim(3, A), valid +
                                "A, src = FS_NONE, dst = FS_BIRTH, resource check failed\\.\nFrameId = 3\\. "
                                "FS_NONE: Zone: Z, A; FS_ALIVE: Zone: Z, A\n");
  EXPECT_DEATH(recycle(3, A), valid + "A, src = FS_DEATH, dst = FS_NONE");
  EXPECT_DEATH(release(3, B), valid + "B, src = FS_ALIVE, dst = FS_DEATH");
  EXPECT_DEATH(ResStatusEnum_string(static_cast<ResStatusEnum>(7)),
               "Check failed: it != mapEnum2Str\\.end\\(\\) 7");
  EXPECT_DEATH(fs_.insert_alive(3, A),
               "Check failed: it == aliveFrame_\\[resunion\\]\\.end\\(\\) for id\\(3\\), resunion\\(1\\)");
  EXPECT_DEATH(fs_.erase_alive(4, A),
               "Check failed: it != aliveFrame_\\[resunion\\]\\.end\\(\\) for id\\(4\\), resunion\\(1\\)");
  EXPECT_DEATH(fs_.erase_alive(3, 6),
               "Check failed: it != aliveFrame_\\[resunion\\]\\.end\\(\\) for id\\(3\\), resunion\\(6\\)");
  struct Row {
    std::function<void()> breakIt;
    const char* message;
  } rows[] = {
      {[&] { fs_.insert_alive(99, A); },
       "Check failed: fsrp != frameStatusResource_\\.end\\(\\) frameId = 99, resunion = 1"},
      {[&] { fs_.insert_alive(3, B); },
       "Check failed: resunion == sep->second \\(2 vs\\. 1\\) frameId = 3, resunion = 2"},
      {[&] { fs_.erase_alive(3, A); },
       "Check failed: afp != aliveFrame_\\.end\\(\\) frameId = 3, resunion = 1"},
      {[&] {
         publish(8, A);
         fs_.erase_alive(3, A);
       },
       "Check failed: afp->second\\.find\\(frameId\\) != afp->second\\.end\\(\\) frameId = 3, resunion = 1"},
  };
  for (const Row& row : rows)
    EXPECT_DEATH(
        {
          row.breakIt();
          fs_.debug();
        },
        row.message);
  EXPECT_DEATH(
      {
        fs_.insert_alive(99, A);
        fs_.latest(A, 0, nullptr);
      },
      "Check failed: itresmap != frameStatusResource_\\.end\\(\\) ");
}

}  // namespace
