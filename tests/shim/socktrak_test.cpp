// The IPX socket registry: its answers, its trace lines, its bounds, and its lock.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_log.h"
#include "ipx/socktrak.h"

using ::testing::ElementsAre;

namespace {

class SocktrakTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteAllIPXSock(); }
  void TearDown() override { DeleteAllIPXSock(); }
};

TEST_F(SocktrakTest, AddWritesTheWholeListAfterEachAddition) {
  FakeLog log;
  EXPECT_EQ(AddIPXSock(40), 1);
  EXPECT_EQ(AddIPXSock(1234), 1);
  EXPECT_THAT(log.texts(),
              ElementsAre("AddIPXSock(40)", "FindIPXSock(40)",
                          "Found failed for 40 - length is now 0", "Added 40 - length is now 1",
                          "List -", "\t\t   0 - 40", "AddIPXSock(1234)", "FindIPXSock(1234)",
                          "Found failed for 1234 - length is now 1",
                          "Added 1234 - length is now 2", "List -", "\t\t   0 - 40",
                          "\t\t   1 - 1234"));
  for (const FakeLine& l : log.lines()) {
    EXPECT_EQ(l.file, "wsock32\\socktrak");
    EXPECT_EQ(l.level, 2000);
  }
}

TEST_F(SocktrakTest, AddingAHandleTwiceIsRefusedAndTheCountStays) {
  AddIPXSock(7);
  FakeLog log;
  EXPECT_EQ(AddIPXSock(7), 0);
  EXPECT_THAT(log.texts(), ElementsAre("AddIPXSock(7)", "FindIPXSock(7)",
                                       "Found 7 at 0 - length is now 1"));
  EXPECT_EQ(IPXSockCount(), 1);
}

TEST_F(SocktrakTest, FindCountsPositionsFromOneAndShowsIndicesFromZero) {
  AddIPXSock(10);
  AddIPXSock(20);
  FakeLog log;
  EXPECT_EQ(FindIPXSock(10), 1);
  EXPECT_EQ(FindIPXSock(20), 2);
  EXPECT_EQ(FindIPXSock(30), 0);
  EXPECT_THAT(log.texts(),
              ElementsAre("FindIPXSock(10)", "Found 10 at 0 - length is now 2", "FindIPXSock(20)",
                          "Found 20 at 1 - length is now 2", "FindIPXSock(30)",
                          "Found failed for 30 - length is now 2"));
}

TEST_F(SocktrakTest, DeletingTheMiddleEntryKeepsTheOthersInOrder) {
  AddIPXSock(1);
  AddIPXSock(2);
  AddIPXSock(3);
  FakeLog log;
  EXPECT_EQ(DeleteIPXSock(2), 1);
  EXPECT_THAT(log.texts(), ElementsAre("DeleteIPXSock(2)", "FindIPXSock(2)",
                                       "Found 2 at 1 - length is now 3",
                                       "Deleted 2 - length is now 2"));
  EXPECT_EQ(IPXSockAt(0), 1);
  EXPECT_EQ(IPXSockAt(1), 3);
  EXPECT_EQ(IPXSockAt(2), -1);
  EXPECT_EQ(FindIPXSock(3), 2);
}

TEST_F(SocktrakTest, DeletingAnAbsentHandleChangesNothing) {
  AddIPXSock(5);
  FakeLog log;
  EXPECT_EQ(DeleteIPXSock(6), 0);
  EXPECT_THAT(log.texts(), ElementsAre("DeleteIPXSock(6)", "FindIPXSock(6)",
                                       "Found failed for 6 - length is now 1"));
  EXPECT_EQ(IPXSockCount(), 1);
}

TEST_F(SocktrakTest, DeleteAllEmptiesTheTable) {
  AddIPXSock(5);
  AddIPXSock(6);
  FakeLog log;
  DeleteAllIPXSock();
  EXPECT_THAT(log.texts(), ElementsAre("DeleteAllIPXSock()"));
  EXPECT_EQ(IPXSockCount(), 0);
  EXPECT_EQ(FindIPXSock(5), 0);
  EXPECT_EQ(IPXSockKind(6), IPX_KIND_NONE);
}

TEST_F(SocktrakTest, AFullTableRefusesSilently) {
  for (int h = 0; h < IPX_SOCK_MAX; ++h) ASSERT_EQ(AddIPXSock(1000 + h), 1);
  FakeLog log;
  EXPECT_EQ(AddIPXSock(99999), 0);
  ASSERT_EQ(log.texts().size(), 3u);  // AddIPXSock, FindIPXSock, Found failed
  EXPECT_EQ(log.texts()[2], "Found failed for 99999 - length is now 1024");
  EXPECT_EQ(IPXSockCount(), IPX_SOCK_MAX);
  EXPECT_EQ(IPXSockKind(99999), IPX_KIND_NONE);
  // A freed place takes a new handle again, at the end.
  EXPECT_EQ(DeleteIPXSock(1000), 1);
  EXPECT_EQ(AddIPXSock(99999), 1);
  EXPECT_EQ(IPXSockAt(IPX_SOCK_MAX - 1), 99999);
}

TEST_F(SocktrakTest, KindsFollowTheirHandlesThroughDeletion) {
  AddIPXSock(1, IPX_KIND_STREAM);
  AddIPXSock(2, IPX_KIND_DATAGRAM);
  AddIPXSock(3, IPX_KIND_STREAM);
  DeleteIPXSock(1);
  EXPECT_EQ(IPXSockKind(2), IPX_KIND_DATAGRAM);
  EXPECT_EQ(IPXSockKind(3), IPX_KIND_STREAM);
  EXPECT_EQ(IPXSockKind(1), IPX_KIND_NONE);
}

// Game threads add and remove their own handles while another empties the table and a
// reader checks that it never sees a handle twice or a count past the entries.
TEST_F(SocktrakTest, ConcurrentChangesNeverLeaveTheTableHalfChanged) {
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; ++i) {
        int h = t * 100000 + i;
        AddIPXSock(h);
        if (i % 3 == 0) DeleteIPXSock(h);
      }
    });
  }
  threads.emplace_back([] {
    for (int i = 0; i < 20; ++i) DeleteAllIPXSock();
  });
  std::thread reader([&] {
    while (!stop.load()) {
      SocktrakGuard guard;
      int n = IPXSockCount();
      if (n < 0 || n > IPX_SOCK_MAX) ++bad;
      for (int i = 0; i < n; ++i) {
        int h = IPXSockAt(i);
        if (h < 0) ++bad;
        for (int j = i + 1; j < n; ++j)
          if (IPXSockAt(j) == h) ++bad;
      }
    }
  });
  for (std::thread& th : threads) th.join();
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST_F(SocktrakTest, TheGuardLetsItsHolderCallEveryOperation) {
  SocktrakGuard guard;
  EXPECT_EQ(AddIPXSock(11), 1);
  EXPECT_EQ(FindIPXSock(11), 1);
  EXPECT_EQ(DeleteIPXSock(11), 1);
}

}  // namespace
