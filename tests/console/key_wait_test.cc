#include "console/key_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "support/scripted_key_source.h"

namespace kp {
namespace {

using test::ScriptedKeySource;

constexpr uint16_t kVkA = 'A';
constexpr uint16_t kVkF1 = 0x70;

class KeyWaitTest : public ::testing::Test {
 protected:
  ScriptedKeySource source;
  KeyWait keys{source};

  int storedCodes() const {
    const KeyBuffer& b = keys.buffer();
    return (b.tail - b.head + KeyBuffer::kSlots) % KeyBuffer::kSlots;
  }
};

// --- the four argument ranges of the wait ---

TEST_F(KeyWaitTest, TimedWaitLooksEveryFiftyMillisecondsThenSleepsTheRest) {
  keys.waitForKey(250);
  EXPECT_EQ(source.peekTimes(), (std::vector<int>{0, 50, 100, 150}));
  EXPECT_EQ(source.sleeps(), (std::vector<int>{50, 50, 50, 50, 50}));
  EXPECT_EQ(source.now(), 250);
}

TEST_F(KeyWaitTest, TimedWaitSleepsAnOddRemainderWithoutLooking) {
  keys.waitForKey(123);
  EXPECT_EQ(source.peekTimes(), (std::vector<int>{0, 50}));
  EXPECT_EQ(source.sleeps(), (std::vector<int>{50, 50, 23}));
}

TEST_F(KeyWaitTest, TimedWaitEndsAtTheLookThatSeesAKey) {
  source.addKeyPress(70, kVkA);
  keys.waitForKey(250);
  EXPECT_EQ(source.peekTimes().back(), 100);
  EXPECT_EQ(source.now(), 100);
}

TEST_F(KeyWaitTest, ShortWaitsOnlySleep) {
  for (int ms : {0, 1, 99}) {
    ScriptedKeySource quiet;
    KeyWait wait(quiet);
    quiet.addKeyPress(0, kVkA);
    wait.waitForKey(ms);
    EXPECT_TRUE(quiet.peekTimes().empty()) << ms;
    EXPECT_EQ(quiet.sleeps(), (std::vector<int>{ms}));
    EXPECT_EQ(quiet.handlerInstallCalls(), 0) << ms;
  }
}

TEST_F(KeyWaitTest, BelowMinusOneReturnsAtOnce) {
  for (int ms : {-2, -1000, INT32_MIN}) keys.waitForKey(ms);
  EXPECT_TRUE(source.peekTimes().empty());
  EXPECT_TRUE(source.sleeps().empty());
}

TEST_F(KeyWaitTest, EndlessWaitReturnsWhenAKeyArrives) {
  source.addKeyPress(420, kVkA);
  keys.waitForKey(-1);
  EXPECT_EQ(source.now(), 450);
  EXPECT_EQ(source.peekTimes().front(), 0);
  EXPECT_EQ(keys.readKey(true, false), 'a');
}

TEST_F(KeyWaitTest, KeyTypedBeforeTheWaitEndsItWithoutSleeping) {
  source.addKeyPress(0, kVkA);
  keys.waitForKey(-1);
  EXPECT_TRUE(source.sleeps().empty());
  EXPECT_EQ(source.unreadEvents(), 0);  // taken from the queue, not left for the shell
}

// --- keys that do or do not end the wait ---

TEST_F(KeyWaitTest, ModifierAndLockKeysAloneDoNotEndTheWait) {
  struct Key {
    uint16_t vk;
    uint32_t state;  // while held
  };
  const Key keysAlone[] = {
      {0x10, ShiftPressed},                    // Shift
      {0xA1, ShiftPressed},                    // right Shift
      {0x11, LeftCtrlPressed},                 // Ctrl
      {0x12, LeftAltPressed},                  // Alt
      {0x14, CapsLockOn},                      // Caps Lock
      {0x90, NumLockOn},                       // Num Lock
      {0x91, ScrollLockOn},                    // Scroll Lock
      {0x11, RightCtrlPressed | EnhancedKey},  // right Ctrl
      {0x12, RightAltPressed | EnhancedKey},   // right Alt
  };
  int t = 0;
  for (const Key& k : keysAlone) {
    source.addEvent(t, ScriptedKeySource::keyDown(k.vk, k.state, 0));
    source.addEvent(t + 10, ScriptedKeySource::keyDown(k.vk, k.state, 0));  // auto-repeat
    source.addEvent(t + 20, ScriptedKeySource::keyUp(k.vk, k.state & EnhancedKey, 0));
    t += 50;
  }
  keys.waitForKey(1000);
  EXPECT_EQ(source.now(), 1000);
  EXPECT_EQ(source.unreadEvents(), 0);
  EXPECT_EQ(storedCodes(), 0);
}

TEST_F(KeyWaitTest, ReleasesAloneDoNotEndTheWait) {
  source.addEvent(0, ScriptedKeySource::keyUp(kVkA));
  source.addEvent(10, ScriptedKeySource::keyUp(kVkF1));
  source.addEvent(20, ScriptedKeySource::keyUp(0x26, EnhancedKey));
  keys.waitForKey(300);
  EXPECT_EQ(source.now(), 300);
  EXPECT_EQ(storedCodes(), 0);
}

TEST_F(KeyWaitTest, AutoRepeatCountsLikePresses) {
  InputEvent held = ScriptedKeySource::keyDown(kVkA);
  source.addEvent(0, held);
  held.key.repeatCount = 3;  // a batched repeat is still one code
  source.addEvent(0, held);
  source.addEvent(0, held);
  keys.pollKeyEvents();
  EXPECT_EQ(storedCodes(), 3);
}

TEST_F(KeyWaitTest, KeyDownWithRepeatCountZeroIsDropped) {
  InputEvent odd = ScriptedKeySource::keyDown(kVkA);
  odd.key.repeatCount = 0;
  source.addEvent(0, odd);
  keys.waitForKey(200);
  EXPECT_EQ(source.now(), 200);
  EXPECT_EQ(source.unreadEvents(), 0);
  EXPECT_EQ(storedCodes(), 0);
}

TEST_F(KeyWaitTest, F1EndsTheWaitAndStaysInTheBuffer) {
  source.addKeyPress(0, kVkF1);
  keys.waitForKey(-1);
  EXPECT_EQ(storedCodes(), 1);
  EXPECT_EQ(keys.buffer().slots[keys.buffer().head].code, 0x3BFF);
}

TEST_F(KeyWaitTest, OtherEventsAreRemovedAndIgnored) {
  const uint16_t types[] = {MouseEventType, WindowBufferSizeEventType, MenuEventType,
                            FocusEventType, 0x40};
  for (uint16_t type : types) {
    source.addEvent(0, ScriptedKeySource::otherEvent(type));
  }
  keys.waitForKey(150);
  EXPECT_EQ(source.unreadEvents(), 0);
  EXPECT_EQ(source.now(), 150);
  EXPECT_EQ(storedCodes(), 0);
}

// --- the look itself ---

TEST_F(KeyWaitTest, OneLookEmptiesTheQueue) {
  for (int i = 0; i < 20; ++i) source.addKeyPress(0, kVkA);
  EXPECT_FALSE(keys.pollKeyEvents());
  EXPECT_EQ(source.unreadEvents(), 0);
  EXPECT_EQ(storedCodes(), 20);
}

TEST_F(KeyWaitTest, FailedRemovalEndsTheLookInsteadOfSpinning) {
  source.addKeyPress(0, kVkA);
  source.setReadFails(true);
  keys.waitForKey(250);
  EXPECT_EQ(source.peekTimes(), (std::vector<int>{0, 50, 100, 150}));
  EXPECT_EQ(source.readCalls(), 4);
  EXPECT_EQ(storedCodes(), 0);
}

TEST_F(KeyWaitTest, FailedPeekMeansNoKey) {
  source.addKeyPress(0, kVkA);
  source.setPeekFails(true);
  keys.waitForKey(200);
  EXPECT_EQ(source.now(), 200);
  EXPECT_EQ(source.readCalls(), 0);
}

TEST_F(KeyWaitTest, FirstLookInstallsTheHandlerOnceAndRegistersItsRemoval) {
  EXPECT_FALSE(source.handlerInstalled());
  keys.pollKeyEvents();
  keys.pollKeyEvents();
  keys.waitForKey(200);
  EXPECT_TRUE(keys.buffer().handlerInstalled);
  EXPECT_TRUE(source.handlerInstalled());
  EXPECT_EQ(source.handlerInstallCalls(), 1);
  EXPECT_EQ(source.exitActionCount(), 1);

  source.runExitActions();
  EXPECT_FALSE(source.handlerInstalled());
  EXPECT_EQ(source.handlerRemoveCalls(), 1);
}

// --- the control handler ---

TEST_F(KeyWaitTest, NoHandlerBeforeTheFirstLook) {
  EXPECT_FALSE(source.fireControl(CtrlCloseEvent));  // the platform's default acts
  EXPECT_EQ(storedCodes(), 0);
}

TEST_F(KeyWaitTest, CloseFromAnotherThreadEndsTheWaitAtTheNextLook) {
  bool handled = false;
  source.onSleep([&](int now) {
    if (now != 100) return;
    std::thread closer([&] { handled = source.fireControl(CtrlCloseEvent); });
    closer.join();
  });
  keys.waitForKey(-1);
  EXPECT_TRUE(handled);
  EXPECT_EQ(source.now(), 100);
  EXPECT_EQ(source.peekTimes(), (std::vector<int>{0, 50, 100}));

  const KeyBuffer::Slot& slot = keys.buffer().slots[keys.buffer().head];
  EXPECT_EQ(slot.code, kAltF4Code);
  EXPECT_EQ(slot.event.eventType, KeyEventType);
  EXPECT_EQ(slot.event.key.virtualKeyCode, 0x73);
  EXPECT_EQ(slot.event.key.virtualScanCode, 0x3E);
  EXPECT_EQ(slot.event.key.controlKeyState, LeftAltPressed);
  EXPECT_EQ(slot.event.key.keyDown, 0);
  EXPECT_EQ(slot.event.key.character, 0);
}

TEST_F(KeyWaitTest, HandlerTakesCloseLogoffAndShutdownAndDeclinesTheRest) {
  keys.pollKeyEvents();
  struct Case {
    uint32_t type;
    bool handled;
  };
  const Case cases[] = {
      {CtrlCEvent, false}, {CtrlBreakEvent, false}, {CtrlCloseEvent, true},    {3, false},
      {4, false},          {CtrlLogoffEvent, true}, {CtrlShutdownEvent, true}, {7, false}};
  int expectedCodes = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(source.fireControl(c.type), c.handled) << c.type;
    if (c.handled) ++expectedCodes;
    EXPECT_EQ(storedCodes(), expectedCodes) << c.type;
  }
}

TEST_F(KeyWaitTest, CtrlCDuringTheWaitIsDeclinedAndDoesNotEndIt) {
  source.onSleep([&](int now) {
    if (now == 50) {
      EXPECT_FALSE(source.fireControl(CtrlCEvent));
    }
  });
  keys.waitForKey(200);
  EXPECT_EQ(source.now(), 200);
  EXPECT_EQ(storedCodes(), 0);
}

// The handler appends while the main thread looks and appends: no code may
// be lost or land half written, and every arrival must be seen.
TEST_F(KeyWaitTest, ConcurrentHandlerAndLooksLoseNoCode) {
  constexpr int kKeys = 200;
  constexpr int kCloses = 200;
  for (int i = 0; i < kKeys; ++i) source.addEvent(i, ScriptedKeySource::keyDown(kVkA));
  keys.pollKeyEvents();  // installs the handler (and takes the key at 0)

  std::thread closer([&] {
    for (int i = 0; i < kCloses; ++i) source.fireControl(CtrlCloseEvent);
  });
  while (source.now() < kKeys) {
    keys.checkKeyArrived();
    source.sleep(1);
  }
  closer.join();
  keys.checkKeyArrived();

  int letters = 0;
  int closes = 0;
  for (int code; (code = keys.readKey(true, true)) != kNoKey;) {
    if (code == 'a') ++letters;
    if (code == kAltF4Code) ++closes;
  }
  EXPECT_EQ(letters, kKeys);
  EXPECT_EQ(closes, kCloses);
}

// Both threads append at full speed from a common start, many times over, so
// that an unguarded tail would lose codes.
TEST(KeyWaitRace, SimultaneousAppendsKeepEveryCode) {
  constexpr int kPerThread = 255;  // both together stay below the 511 that fit
  for (int round = 0; round < 1000; ++round) {
    ScriptedKeySource source;
    auto keys = std::make_unique<KeyWait>(source);
    keys->pollKeyEvents();
    std::atomic<bool> go{false};
    std::thread closer([&] {
      while (!go.load()) {
      }
      for (int i = 0; i < kPerThread; ++i) source.fireControl(CtrlCloseEvent);
    });
    const KeyEvent event;
    go.store(true);
    for (int i = 0; i < kPerThread; ++i) keys->appendKey('k', event);
    closer.join();

    int letters = 0;
    int closes = 0;
    for (int code; (code = keys->readKey(true, true)) != kNoKey;) {
      letters += code == 'k';
      closes += code == kAltF4Code;
    }
    ASSERT_EQ(letters, kPerThread) << "round " << round;
    ASSERT_EQ(closes, kPerThread) << "round " << round;
  }
}

}  // namespace
}  // namespace kp
