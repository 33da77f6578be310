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
  // Moves kind k of frame f through the states of `path`, one change per step.
  void walk(long long f, unsigned long long k, std::vector<ResStatusEnum> path) {
    for (size_t i = 1; i < path.size(); ++i) fs_.change(f, k, path[i - 1], path[i]);
  }
  void publish(long long f, unsigned long long k) { walk(f, k, {FS_NONE, FS_BIRTH, FS_ALIVE}); }
  States states(long long f) const { return fs_.frameStatusResource().at(f); }
  FrameStatus fs_;
};

TEST_F(FrameStatusTest, StatesMoveBetweenGroupsAndRecycledKindsStayAsNone) {
  // clang-format off
  struct Step { long long f; unsigned long long k; std::vector<ResStatusEnum> path; States seven; Groups groups; } steps[] = {
      {7, A, {FS_NONE, FS_BIRTH}, {{FS_BIRTH, A}}, {}},
      {7, A, {FS_BIRTH, FS_ALIVE}, {{FS_ALIVE, A}}, {{A, {7}}}},
      {7, B, {FS_NONE, FS_BIRTH}, {{FS_BIRTH, B}, {FS_ALIVE, A}}, {{A, {7}}}},
      {7, B, {FS_BIRTH, FS_ALIVE}, {{FS_ALIVE, A | B}}, {{A | B, {7}}}},
      {3, A, {FS_NONE, FS_BIRTH, FS_ALIVE}, {{FS_ALIVE, A | B}}, {{A, {3}}, {A | B, {7}}}},
      {7, A, {FS_ALIVE, FS_DEATH}, {{FS_ALIVE, B}, {FS_DEATH, A}}, {{A, {3}}, {B, {7}}}},
      {7, A, {FS_DEATH, FS_NONE}, {{FS_NONE, A}, {FS_ALIVE, B}}, {{A, {3}}, {B, {7}}}},
      {7, A, {FS_NONE, FS_BIRTH}, {{FS_BIRTH, A}, {FS_ALIVE, B}}, {{A, {3}}, {B, {7}}}} /* claimed again */,
      {7, A, {FS_BIRTH, FS_ALIVE, FS_DEATH, FS_NONE}, {{FS_NONE, A}, {FS_ALIVE, B}}, {{A, {3}}, {B, {7}}}},
      {7, B, {FS_ALIVE, FS_DEATH}, {{FS_NONE, A}, {FS_DEATH, B}}, {{A, {3}}}},
      {7, B, {FS_DEATH, FS_NONE}, {} /* erased */, {{A, {3}}}}};
  // clang-format on
  for (const Step& step : steps) {
    walk(step.f, step.k, step.path);
    EXPECT_EQ(fs_.frameStatusResource().count(7) ? states(7) : States{}, step.seven)
        << "step " << &step - steps;
    EXPECT_EQ(fs_.aliveFrame(), step.groups) << "step " << &step - steps;
    fs_.debug();
  }
  walk(-2, C, {FS_NONE, FS_BIRTH});
  EXPECT_EQ(fs_.idset(), (std::unordered_set<long long>{-2, 3}));
  EXPECT_EQ(fs_.idvec(), (Ids{-2, 3}));
  EXPECT_EQ(fs_.print(),
            "FrameId = -2. FS_BIRTH: Zone: Z, C\nFrameId = 3. FS_ALIVE: Zone: Z, A\n--- ---\n"
            "ResourceIdUnion = 1(Zone: Z, A): 3\n=== ===\n");
}

TEST_F(FrameStatusTest, LatestAndDupAliveSearchTheGroups) {
  for (long long f : {4, 5, 6, 8, 10}) publish(f, A);
  walk(6, B, {FS_NONE, FS_BIRTH});
  publish(8, C);
  publish(9, B);
  publish(10, B);
  walk(10, B, {FS_ALIVE, FS_DEATH});
  // clang-format off
  struct Row { unsigned long long include, exclude; long long bound, frame; } rows[] = {
      {A, B, -1, 8}, {A, C, -1, 10}, {A, B | C, -1, 5} /* 6: B claimed, 10: B released */, {A | C, 0, -1, 8},
      {0, 0, -1, 10}, {A | B, 0, -1, -1}, {B, 0, -1, 9}, {A, C, 9, 10}, {A, C, 10, -1}, {A, B | C, 4, 5}, {A, B | C, 5, -1}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(fs_.latest(row.include, row.exclude, [&](long long f) { return f > row.bound; }), row.frame)
        << "row " << &row - rows;
  }
  EXPECT_EQ(fs_.dup_alive(2), (Ids{4, 5}));
  EXPECT_EQ(fs_.dup_alive(0), (Ids{4, 5, 6, 10, 9, 8})) << "groups A, B, A|C";
}

using FrameStatusDeathTest = FrameStatusTest;

TEST_F(FrameStatusDeathTest, OutOfOrderChangesAndBrokenGroupsStop) {
  const std::string valid = "Check failed: valid \nid = 3, res = Zone: Z, ";
  const std::string group = "\\[resunion\\]\\.end\\(\\) for id\\(";
  EXPECT_DEATH(fs_.change(3, A, FS_BIRTH, FS_ALIVE),
               valid + "A, src = FS_BIRTH, dst = FS_ALIVE, resource check failed\\.\n--- ---\n=== ===");
  publish(3, A);
  // clang-format off
  const std::pair<std::function<void()>, std::string> rows[] = {
      {[&] { fs_.change(1, A, FS_ALIVE, FS_ALIVE); }, "Check failed: src != dst \\(2 vs\\. 2\\)"},
      {[&] { walk(3, A, {FS_NONE, FS_BIRTH}); }, valid + "A, src = FS_NONE, dst = FS_BIRTH, resource check failed\\.\nFrameId = 3\\. FS_NONE: Zone: Z, A; FS_ALIVE: Zone: Z, A\n"},
      {[&] { walk(3, A, {FS_DEATH, FS_NONE}); }, valid + "A, src = FS_DEATH, dst = FS_NONE"},
      {[&] { walk(3, B, {FS_ALIVE, FS_DEATH}); }, valid + "B, src = FS_ALIVE, dst = FS_DEATH"},
      {[&] { ResStatusEnum_string(static_cast<ResStatusEnum>(7)); }, "Check failed: it != mapEnum2Str\\.end\\(\\) 7"},
      {[&] { fs_.insert_alive(3, A); }, "Check failed: it == aliveFrame_" + group + "3\\), resunion\\(1\\)"},
      {[&] { fs_.erase_alive(4, A); }, "Check failed: it != aliveFrame_" + group + "4\\), resunion\\(1\\)"},
      {[&] { fs_.erase_alive(3, 6); }, "Check failed: it != aliveFrame_" + group + "3\\), resunion\\(6\\)"},
      {[&] { fs_.insert_alive(99, A); fs_.latest(A, 0, nullptr); }, "Check failed: itresmap != frameStatusResource_\\.end\\(\\) "},
      {[&] { fs_.insert_alive(99, A); fs_.debug(); }, "Check failed: fsrp != frameStatusResource_\\.end\\(\\) frameId = 99, resunion = 1"},
      {[&] { fs_.insert_alive(3, B); fs_.debug(); }, "Check failed: resunion == sep->second \\(2 vs\\. 1\\) frameId = 3, resunion = 2"},
      {[&] { fs_.erase_alive(3, A); fs_.debug(); }, "Check failed: afp != aliveFrame_\\.end\\(\\) frameId = 3, resunion = 1"},
      {[&] { publish(8, A); fs_.erase_alive(3, A); fs_.debug(); }, "Check failed: afp->second\\.find\\(frameId\\) != afp->second\\.end\\(\\) frameId = 3, resunion = 1"}};
  // clang-format on
  for (const auto& row : rows) EXPECT_DEATH(row.first(), row.second) << "row " << &row - rows;
}

}  // namespace
