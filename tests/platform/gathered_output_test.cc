// Gathered raw output: large writes in order, and a second thread that may
// send what has been appended at any moment without tearing or repeating a
// byte.
#include "platform/gathered_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace kp::platform {
namespace {

using std::chrono::milliseconds;

// Collects what the gathered output hands on. Only the holder of the turn
// calls the sink, so the text needs no lock of its own; `total` may be read
// from anywhere.
struct Sink {
  std::string text;
  std::vector<size_t> writes;
  std::atomic<size_t> total{0};
  size_t failAt = SIZE_MAX;                 // the write that fails (its index)
  size_t shortBy = 0;                       // bytes each write leaves undone
  std::atomic<bool>* holdWrites = nullptr;  // writes wait while it is true
  std::atomic<bool> inWrite{false};

  static bool write(void* self, const char* bytes, size_t count, size_t* written) {
    auto* sink = static_cast<Sink*>(self);
    sink->inWrite = true;
    while (sink->holdWrites != nullptr && sink->holdWrites->load()) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    sink->inWrite = false;
    if (sink->writes.size() == sink->failAt) {
      sink->writes.push_back(0);
      *written = 0;
      return false;
    }
    const size_t done = count > sink->shortBy ? count - sink->shortBy : count;
    sink->text.append(bytes, done);
    sink->writes.push_back(done);
    sink->total += done;
    *written = done;
    return true;
  }
};

bool appendText(GatheredOutput& output, const std::string& text) {
  size_t written = 0;
  return output.append(text.data(), text.size(), &written) && written == text.size();
}

struct AppendCase {
  const char* name;
  std::vector<std::string> pieces;
  std::vector<size_t> writesBeforeSend;  // what reaches the sink while appending
};

class GatheredOutputAppends : public ::testing::TestWithParam<AppendCase> {};

TEST_P(GatheredOutputAppends, HandsOnLargeWritesInOrder) {
  Sink sink;
  GatheredOutput output(8, &Sink::write, &sink);
  std::string all;
  for (const std::string& piece : GetParam().pieces) {
    ASSERT_TRUE(appendText(output, piece));
    all += piece;
  }
  EXPECT_EQ(sink.writes, GetParam().writesBeforeSend);
  EXPECT_TRUE(output.send());
  EXPECT_EQ(sink.text, all);
  EXPECT_TRUE(output.send());  // nothing left: no further write
  EXPECT_EQ(sink.text, all);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GatheredOutputAppends,
    ::testing::Values(AppendCase{"FitsWhole", {"abc", "defg", "h"}, {}},
                      AppendCase{"FullBufferGoesOutBeforeTheNext", {"abcdef", "ghi"}, {6}},
                      AppendCase{"LargePieceFollowsTheGathered", {"ab", "0123456789"}, {2, 10}},
                      AppendCase{"PieceOfExactlyTheCapacity", {"01234567", "x"}, {8}},
                      AppendCase{"EmptyPieces", {"", "ab", ""}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GatheredOutput, ShortWritesAreRepeatedUntilAllIsThrough) {
  Sink sink;
  sink.shortBy = 3;
  GatheredOutput output(16, &Sink::write, &sink);
  ASSERT_TRUE(appendText(output, "0123456789"));
  ASSERT_TRUE(output.send());
  EXPECT_EQ(sink.text, "0123456789");
  EXPECT_EQ(sink.writes, (std::vector<size_t>{7, 3}));
}

TEST(GatheredOutput, AFailedSendDropsWhatWasGatheredAndGoesOn) {
  Sink sink;
  sink.failAt = 0;
  GatheredOutput output(8, &Sink::write, &sink);
  ASSERT_TRUE(appendText(output, "abcdef"));
  size_t written = 1;
  EXPECT_FALSE(output.append("ghi", 3, &written));
  EXPECT_EQ(written, 0u);
  ASSERT_TRUE(appendText(output, "jk"));
  ASSERT_TRUE(output.send());
  EXPECT_EQ(sink.text, "jk");
}

TEST(GatheredOutput, TheOtherSideSendsWhatIsAppendedAndThePrinterGoesOnBehindIt) {
  Sink sink;
  GatheredOutput output(8, &Sink::write, &sink);
  ASSERT_TRUE(appendText(output, "abc"));
  std::thread([&] { EXPECT_TRUE(output.sendAppended(milliseconds(1000))); }).join();
  EXPECT_EQ(sink.text, "abc");
  std::thread([&] { EXPECT_TRUE(output.sendAppended(milliseconds(1000))); }).join();
  EXPECT_EQ(sink.writes.size(), 1u);  // nothing new: no write
  ASSERT_TRUE(appendText(output, "defg"));
  ASSERT_TRUE(appendText(output, "hi"));  // no room behind the 7 bytes: "defg" goes out
  std::thread([&] { EXPECT_TRUE(output.sendAppended(milliseconds(1000))); }).join();
  ASSERT_TRUE(output.send());
  EXPECT_EQ(sink.text, "abcdefghi");
  EXPECT_EQ(sink.writes, (std::vector<size_t>{3, 4, 2}));
}

TEST(GatheredOutput, TheOtherSideGivesUpWhileThePrinterIsStuckInAWrite) {
  std::atomic<bool> hold{true};
  Sink sink;
  sink.holdWrites = &hold;
  GatheredOutput output(4, &Sink::write, &sink);
  ASSERT_TRUE(appendText(output, "abc"));
  std::thread printer([&] { EXPECT_TRUE(appendText(output, "defg")); });
  while (!sink.inWrite) std::this_thread::sleep_for(milliseconds(1));
  EXPECT_FALSE(output.sendAppended(milliseconds(20)));  // nothing sent twice
  hold = false;
  printer.join();
  ASSERT_TRUE(output.send());
  EXPECT_EQ(sink.text, "abcdefg");
}

TEST(GatheredOutput, SendsFromAnotherThreadWhilePrintingGiveEachByteOnceInOrder) {
  Sink sink;
  GatheredOutput output(256, &Sink::write, &sink);
  constexpr int kRows = 50000;
  std::atomic<size_t> appended{0};  // bytes whose append has returned
  std::atomic<bool> done{false};
  std::string all;
  for (int i = 0; i < kRows; ++i) {
    char row[32];
    std::snprintf(row, sizeof row, "row %05d|", i);
    all += row;
  }

  std::thread other([&] {
    int shortfalls = 0;
    while (!done) {
      const size_t before = appended.load();
      ASSERT_TRUE(output.sendAppended(milliseconds(5000)));
      // Everything appended before the send has gone out by its end.
      if (sink.total.load() < before) ++shortfalls;
    }
    EXPECT_EQ(shortfalls, 0);
  });
  for (int i = 0; i < kRows; ++i) {
    const std::string row = all.substr(static_cast<size_t>(i) * 10, 10);
    ASSERT_TRUE(appendText(output, row));
    appended += row.size();
  }
  done = true;
  other.join();
  ASSERT_TRUE(output.send());
  EXPECT_EQ(sink.text, all);
}

}  // namespace
}  // namespace kp::platform
