#include "input/file_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "temp_files.h"

namespace kp {
namespace {

using testing::TempDir;

class FileTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }

  ErrorCode openInput(const std::string& path, FileNumber number) {
    return files->openFile(path.c_str(), Input, 0, 0, number, 0);
  }

  // Drains the file through readBytes one byte at a time, as the reader does.
  std::string readAll(FileNumber number) {
    std::string bytes;
    unsigned char byte;
    size_t delivered = 0;
    while (files->readBytes(files->slotForNumber(number), &byte, 1, &delivered) == Ok &&
           delivered == 1) {
      bytes.push_back(static_cast<char>(byte));
    }
    return bytes;
  }

  TempDir dir;
  std::unique_ptr<FileTable> files = std::make_unique<FileTable>();
};

TEST_F(FileTableTest, NumbersAreHandedOutLowestFirstAndFailedOpensLeaveThemFree) {
  const std::string recipe = dir.write("r.txt", "1,a,b\r\n");
  EXPECT_EQ(files->findFreeFileNumber(), 1);
  EXPECT_EQ(files->findFreeFileNumber(), 1) << "asking reserves nothing";

  // A missing first recipe leaves number 1 free, so the second open gets it too.
  EXPECT_EQ(openInput(dir.file("missing.txt"), 1), FileNotFound);
  EXPECT_EQ(files->lastError(), FileNotFound);
  EXPECT_EQ(files->slotForNumber(1)->hooks, nullptr);
  EXPECT_EQ(files->findFreeFileNumber(), 1);
  EXPECT_EQ(files->atEndOfFile(1), -1);
  EXPECT_EQ(files->closeFile(1), IllegalCall);

  EXPECT_EQ(openInput(recipe, 1), Ok);
  EXPECT_EQ(files->lastError(), Ok);
  EXPECT_EQ(files->findFreeFileNumber(), 2);
  EXPECT_EQ(files->atEndOfFile(1), 0);
}

TEST_F(FileTableTest, OpenFillsTheSlotForSequentialInput) {
  const std::string recipe = dir.write("r.txt", "12345");
  ASSERT_EQ(openInput(recipe, 7), Ok);
  const FileSlot& slot = *files->slotForNumber(7);
  EXPECT_EQ(slot.mode, Input);
  EXPECT_EQ(slot.recordLength, 128);
  EXPECT_EQ(slot.encoding, 0);
  EXPECT_EQ(slot.size, 5);
  EXPECT_EQ(slot.kind, 4);
  EXPECT_EQ(slot.access, 3);
  EXPECT_EQ(slot.column, 0);
  EXPECT_EQ(slot.lineWidth, 0);
  EXPECT_EQ(slot.putBackCount, 0);
  EXPECT_EQ(slot.hooks, &diskFileHooks);
  EXPECT_NE(slot.stream, nullptr);
  EXPECT_EQ(slot.redirect, nullptr);
}

TEST_F(FileTableTest, AllNumbersOpen) {
  const std::string recipe = dir.write("r.txt", "x");
  for (FileNumber number = 1; number <= 255; ++number) {
    ASSERT_EQ(files->findFreeFileNumber(), number);
    ASSERT_EQ(openInput(recipe, number), Ok) << number;
  }
  EXPECT_EQ(files->findFreeFileNumber(), 0);
  EXPECT_EQ(openInput(recipe, 0), IllegalCall);
  EXPECT_EQ(files->closeFile(200), Ok);
  EXPECT_EQ(files->findFreeFileNumber(), 200);
}

TEST_F(FileTableTest, RefusedOpensChangeNothing) {
  const std::string recipe = dir.write("r.txt", "abc");
  ASSERT_EQ(openInput(recipe, 3), Ok);
  const FileSlot before = *files->slotForNumber(3);

  struct Case {
    const char* what;
    int32_t mode;
    FileNumber number;
  };
  const Case cases[] = {
      {"number 0", Input, 0},     {"number -1", Input, -1},       {"number 256", Input, 256},
      {"already open", Input, 3}, {"mode 0", PositionedBytes, 4}, {"mode 1", RandomRecords, 4},
      {"mode 3", Output, 4},      {"mode 4", Append, 4},          {"mode 5", 5, 4},
      {"negative mode", -1, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(files->openFile(recipe.c_str(), c.mode, 0, 0, c.number, 0), IllegalCall) << c.what;
    EXPECT_EQ(files->lastError(), IllegalCall) << c.what;
  }
  EXPECT_EQ(files->slotForNumber(4)->hooks, nullptr) << "a refused mode leaves the number free";
  EXPECT_EQ(files->findFreeFileNumber(), 1);
  const FileSlot& after = *files->slotForNumber(3);
  EXPECT_EQ(after.stream, before.stream);
  EXPECT_EQ(after.size, before.size);
  EXPECT_EQ(readAll(3), "abc") << "the open file keeps working";
}

TEST_F(FileTableTest, SlotsByNumber) {
  EXPECT_NE(files->slotForNumber(0), nullptr);
  EXPECT_NE(files->slotForNumber(-1), nullptr);
  EXPECT_NE(files->slotForNumber(-1), files->slotForNumber(0));
  EXPECT_NE(files->slotForNumber(255), nullptr);
  EXPECT_NE(files->slotForNumber(1), files->slotForNumber(255));
  for (FileNumber number : {-2, 256, 300, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(files->slotForNumber(number), nullptr) << number;
    EXPECT_EQ(files->atEndOfFile(number), -1) << number;
    EXPECT_EQ(files->closeFile(number), IllegalCall) << number;
  }
  EXPECT_EQ(files->atEndOfFile(9), -1) << "a free number is at its end";
  EXPECT_EQ(files->closeFile(0), IllegalCall);
}

TEST_F(FileTableTest, EndOfFileComesWithTheLastByteConsumed) {
  ASSERT_EQ(openInput(dir.write("empty.txt", ""), 1), Ok);
  EXPECT_EQ(files->atEndOfFile(1), -1) << "an empty file is at its end at once";

  ASSERT_EQ(openInput(dir.write("two.txt", "ab"), 2), Ok);
  FileSlot* slot = files->slotForNumber(2);
  unsigned char bytes[4];
  size_t delivered = 0;
  EXPECT_EQ(files->atEndOfFile(2), 0);
  ASSERT_EQ(files->readBytes(slot, bytes, 2, &delivered), Ok);
  EXPECT_EQ(delivered, 2u);
  EXPECT_EQ(files->atEndOfFile(2), -1) << "no read past the end is needed";

  // A pending pushed-back byte is still to be read.
  ASSERT_EQ(files->putBackBytes(slot, bytes + 1, 1), Ok);
  EXPECT_EQ(files->atEndOfFile(2), 0);
  ASSERT_EQ(files->readBytes(slot, bytes, 1, &delivered), Ok);
  EXPECT_EQ(bytes[0], 'b');
  EXPECT_EQ(files->atEndOfFile(2), -1);
}

// The end test takes an input file's own rule straight away; a file whose
// hooks are a copy of the disk file's goes through the hook. Read in step,
// both must agree at every position, with a byte pushed back and past the end.
TEST_F(FileTableTest, EndTestAgreesWithTheDevicesOwnTest) {
  static const DeviceHooks twinHooks = diskFileHooks;
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{5}, FileStream::kBufferSize, FileStream::kBufferSize + 1}) {
    const std::string path = dir.write("r.txt", std::string(size, 'x'));
    ASSERT_EQ(openInput(path, 1), Ok);
    ASSERT_EQ(openInput(path, 2), Ok);
    files->slotForNumber(2)->hooks = &twinHooks;
    unsigned char byte = 0;
    size_t delivered = 0;
    for (size_t read = 0; read <= size + 2; ++read) {
      ASSERT_EQ(files->atEndOfFile(1), files->atEndOfFile(2)) << size << " at " << read;
      ASSERT_EQ(files->atEndOfFile(1), read >= size ? -1 : 0) << size << " at " << read;
      for (FileNumber number : {1, 2}) {
        files->readBytes(files->slotForNumber(number), &byte, 1, &delivered);
        if (delivered == 1 && read % 3 == 0) {
          files->putBackBytes(files->slotForNumber(number), &byte, 1);
          ASSERT_EQ(files->atEndOfFile(number), 0);
          files->readBytes(files->slotForNumber(number), &byte, 1, &delivered);
        }
      }
    }
    files->closeFile(1);
    files->closeFile(2);
  }
}

TEST_F(FileTableTest, ReadingPastTheEndKeepsDeliveringNothing) {
  ASSERT_EQ(openInput(dir.write("r.txt", "xyz"), 1), Ok);
  FileSlot* slot = files->slotForNumber(1);
  unsigned char bytes[8];
  size_t delivered = 0;
  ASSERT_EQ(files->readBytes(slot, bytes, 8, &delivered), Ok);
  EXPECT_EQ(delivered, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8), std::string("xyz\0\0\0\0\0", 8))
      << "the rest is zero-filled";
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(files->readBytes(slot, bytes, 1, &delivered), Ok);
    ASSERT_EQ(delivered, 0u);
  }
  EXPECT_EQ(files->atEndOfFile(1), -1);
}

TEST_F(FileTableTest, PushBackHoldsFourBytesAndRefusesAFifthLosingNothing) {
  ASSERT_EQ(openInput(dir.write("r.txt", "Z"), 1), Ok);
  FileSlot* slot = files->slotForNumber(1);
  const unsigned char first[] = {'c', 'd'};
  const unsigned char second[] = {'a', 'b'};
  ASSERT_EQ(files->putBackBytes(slot, first, 2), Ok);
  ASSERT_EQ(files->putBackBytes(slot, second, 2), Ok);
  EXPECT_EQ(slot->putBackCount, 4);
  const unsigned char fifth = 'X';
  EXPECT_EQ(files->putBackBytes(slot, &fifth, 1), FileIO);
  EXPECT_EQ(files->lastError(), FileIO);
  EXPECT_EQ(slot->putBackCount, 4);

  // Pushed-back bytes come first, then the stream, split over two reads.
  unsigned char bytes[3];
  size_t delivered = 0;
  ASSERT_EQ(files->readBytes(slot, bytes, 3, &delivered), Ok);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), delivered), "abc");
  EXPECT_EQ(slot->putBackCount, 1);
  ASSERT_EQ(files->readBytes(slot, bytes, 3, &delivered), Ok);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), delivered), "dZ");
}

TEST_F(FileTableTest, ByteServicesRefuseASlotThatIsNotOpen) {
  unsigned char byte = 'q';
  size_t delivered = 99;
  EXPECT_EQ(files->readBytes(nullptr, &byte, 1, &delivered), IllegalCall);
  EXPECT_EQ(delivered, 0u);
  EXPECT_EQ(files->readBytes(files->slotForNumber(5), &byte, 1, &delivered), IllegalCall);
  EXPECT_EQ(files->putBackBytes(files->slotForNumber(5), &byte, 1), IllegalCall);
  EXPECT_EQ(files->putBackBytes(nullptr, &byte, 1), IllegalCall);
}

TEST_F(FileTableTest, ClosingFreesTheNumberOnce) {
  ASSERT_EQ(openInput(dir.write("r.txt", "1"), 1), Ok);
  EXPECT_EQ(files->closeFile(1), Ok);
  EXPECT_EQ(files->slotForNumber(1)->hooks, nullptr);
  EXPECT_EQ(files->slotForNumber(1)->stream, nullptr);
  EXPECT_EQ(files->closeFile(1), IllegalCall);
  EXPECT_EQ(files->lastError(), IllegalCall);
  EXPECT_EQ(files->atEndOfFile(1), -1);
}

TEST_F(FileTableTest, CloseAllClosesEveryOpenFile) {
  const std::string recipe = dir.write("r.txt", "1");
  ASSERT_EQ(openInput(recipe, 1), Ok);
  ASSERT_EQ(openInput(recipe, 255), Ok);
  files->closeAllFiles();
  EXPECT_EQ(files->slotForNumber(1)->hooks, nullptr);
  EXPECT_EQ(files->slotForNumber(255)->hooks, nullptr);
  EXPECT_EQ(files->findFreeFileNumber(), 1);
  files->closeAllFiles();  // nothing opened since: nothing to do

  ASSERT_EQ(openInput(recipe, 2), Ok);
  files->closeAllFiles();
  EXPECT_EQ(files->slotForNumber(2)->hooks, nullptr);
}

TEST_F(FileTableTest, SlashSeparatedPathOpens) {
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
  dir.write("sub/r.txt", "abc");
  ASSERT_EQ(openInput(dir.path() + "/sub/./r.txt", 1), Ok);
  EXPECT_EQ(readAll(1), "abc");
  EXPECT_EQ(FileStream::directorySeparator(), '/');
}

TEST_F(FileTableTest, EveryByteIsData) {
  const std::string bytes(
      "a\r\nb\x1a"
      "c\0\xff\xef\xbb\xbf",
      10);
  ASSERT_EQ(openInput(dir.write("r.bin", bytes), 1), Ok);
  EXPECT_EQ(readAll(1), bytes) << "no line-end translation, no Ctrl-Z end";
}

TEST_F(FileTableTest, LongFileCrossesManyBuffers) {
  std::string bytes;
  for (size_t i = 0; i < 3 * FileStream::kBufferSize + 17; ++i)
    bytes.push_back(static_cast<char>('a' + i % 26));
  ASSERT_EQ(openInput(dir.write("long.txt", bytes), 1), Ok);
  EXPECT_EQ(files->slotForNumber(1)->size, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(readAll(1), bytes);
  EXPECT_EQ(files->atEndOfFile(1), -1);
}

// A reader scans the buffered bytes up to a line end without bounds tests:
// behind them there must be a line feed at every refill, at the end and after
// a seek, whatever the file holds there.
TEST_F(FileTableTest, LineFeedBehindTheBufferedBytes) {
  const std::string bytes(2 * FileStream::kBufferSize + 100, 'a');
  FileStream* stream = nullptr;
  int64_t size = 0;
  ASSERT_EQ(FileStream::open(dir.write("a.txt", bytes).c_str(), &stream, &size), Ok);
  std::unique_ptr<FileStream, void (*)(FileStream*)> owner(stream, FileStream::close);
  EXPECT_EQ(*stream->bufferedEnd(), '\n') << "before the first read";
  size_t taken = 0;
  while (stream->getByte() == 'a') {
    ++taken;
    ASSERT_EQ(*stream->bufferedEnd(), '\n') << "after byte " << taken;
    taken += static_cast<size_t>(stream->bufferedEnd() - stream->bufferedBegin());
    stream->consumeBufferedTo(stream->bufferedEnd());  // a scan taking the whole buffer
    EXPECT_EQ(stream->tell(), static_cast<int64_t>(taken));
  }
  EXPECT_EQ(taken, bytes.size());
  EXPECT_EQ(*stream->bufferedEnd(), '\n') << "at the end";
  ASSERT_TRUE(stream->seek(FileStream::kBufferSize - 1));
  EXPECT_EQ(*stream->bufferedEnd(), '\n') << "after a seek";
  EXPECT_EQ(stream->getByte(), 'a');
  EXPECT_EQ(stream->bufferedEnd() - stream->bufferedBegin(), FileStream::kBufferSize - 1);
  EXPECT_EQ(*stream->bufferedEnd(), '\n');
}

// Anything but a regular file fails like a missing one, without blocking, and
// leaves its number free.
TEST_F(FileTableTest, OnlyRegularFilesOpen) {
  ASSERT_EQ(mkdir(dir.file("a-directory").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(dir.file("a-fifo").c_str(), 0600), 0);
  struct Case {
    const char* what;
    std::string path;
  };
  const Case cases[] = {
      {"directory", dir.file("a-directory")},
      {"FIFO without a writer", dir.file("a-fifo")},
      {"character device", "/dev/null"},
      {"empty path", ""},
  };
  for (const Case& c : cases) {
    // The stream's own open runs on a thread of its own first, so that an open
    // that blocks fails the test instead of hanging it.
    auto outcome = std::make_shared<std::promise<ErrorCode>>();
    std::future<ErrorCode> opened = outcome->get_future();
    std::thread([path = c.path, outcome] {
      FileStream* stream = nullptr;
      int64_t size = 0;
      const ErrorCode code = FileStream::open(path.c_str(), &stream, &size);
      if (code == Ok) FileStream::close(stream);
      outcome->set_value(code);
    }).detach();
    ASSERT_EQ(opened.wait_for(std::chrono::seconds(5)), std::future_status::ready) << c.what;
    EXPECT_EQ(opened.get(), FileNotFound) << c.what;

    EXPECT_EQ(openInput(c.path, 1), FileNotFound) << c.what;
    EXPECT_EQ(files->slotForNumber(1)->hooks, nullptr) << c.what;
    EXPECT_EQ(files->atEndOfFile(1), -1) << c.what;
  }
  EXPECT_EQ(files->openFile(nullptr, Input, 0, 0, 1, 0), FileNotFound);
}

TEST_F(FileTableTest, UnreadableFileFailsAsNotFound) {
  const std::string path = dir.write("secret.txt", "1,a,b");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(openInput(path, 1), FileNotFound);
    EXPECT_EQ(files->findFreeFileNumber(), 1);
    return;
  }
  // Root reads every file: try it as an ordinary user in a child process.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    FileTable table;
    const bool refused = table.openFile(path.c_str(), Input, 0, 0, 1, 0) == FileNotFound &&
                         table.findFreeFileNumber() == 1;
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not become an ordinary user";
}

TEST_F(FileTableTest, FileThatShrinksWhileReadStillEnds) {
  std::string bytes(3 * FileStream::kBufferSize, 'x');
  const std::string path = dir.write("shrinks.txt", bytes);
  ASSERT_EQ(openInput(path, 1), Ok);
  ASSERT_EQ(files->slotForNumber(1)->size, static_cast<int64_t>(bytes.size()));
  ASSERT_EQ(truncate(path.c_str(), 100), 0);

  // Bounded, so that a fault shows as a failure rather than a hang.
  FileSlot* slot = files->slotForNumber(1);
  unsigned char byte;
  size_t delivered = 0;
  int reads = 0;
  while (files->atEndOfFile(1) == 0 && reads < 1000000) {
    files->readBytes(slot, &byte, 1, &delivered);
    ++reads;
  }
  EXPECT_EQ(files->atEndOfFile(1), -1);
  EXPECT_LE(reads, 101);
}

// A read that fails counts as the end of the data; otherwise the position
// never reaches the size and a reader would go on for ever.
TEST_F(FileTableTest, ReadErrorEndsTheData) {
  const std::string path = dir.write("r.txt", std::string(100, 'x'));
  ASSERT_EQ(openInput(path, 1), Ok);

  // Find the stream's descriptor and put a directory behind it: every read
  // from it then fails (EISDIR).
  int target = -1;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(fds)) {
      char link[4096];
      const std::string name = std::string("/proc/self/fd/") + entry->d_name;
      const ssize_t length = readlink(name.c_str(), link, sizeof link - 1);
      if (length > 0 && std::string(link, length) == path) target = std::atoi(entry->d_name);
    }
    closedir(fds);
  }
  if (target < 0) GTEST_SKIP() << "cannot find the stream's descriptor";
  const int directory = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  ASSERT_EQ(dup2(directory, target), target);
  close(directory);

  unsigned char byte = 0;
  size_t delivered = 1;
  EXPECT_EQ(files->atEndOfFile(1), 0);
  EXPECT_EQ(files->readBytes(files->slotForNumber(1), &byte, 1, &delivered), Ok);
  EXPECT_EQ(delivered, 0u);
  EXPECT_EQ(files->atEndOfFile(1), -1);
}

TEST_F(FileTableTest, DestructorClosesWhatIsStillOpen) {
  ASSERT_EQ(openInput(dir.write("r.txt", "1"), 1), Ok);
  ASSERT_EQ(openInput(dir.write("s.txt", "2"), 2), Ok);
  files.reset();  // leak checkers would report a stream left behind
  SUCCEED();
}

}  // namespace
}  // namespace kp
