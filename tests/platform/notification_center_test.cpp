// The notification centre.
#include "hcf/platform/notify/notification_center.h"

#include <gtest/gtest.h>

using hcf::notify::Notification;
using hcf::notify::NotificationCenter;

TEST(NotificationCenter, ObserversOfTheNameInTheOrderAdded) {
  NotificationCenter center;
  std::vector<std::string> calls;
  const auto a = center.addObserver("changed", [&](const Notification& n) {
    calls.push_back("a:" + std::any_cast<std::string>(n.object));
  });
  center.addObserver("changed", [&](const Notification&) { calls.push_back("b"); });
  center.addObserver("other", [&](const Notification&) { calls.push_back("other"); });
  center.post("changed", std::string("x"));
  EXPECT_EQ(calls, (std::vector<std::string>{"a:x", "b"}));
  center.removeObserver(a);
  center.removeObserver(12345);  // unknown: ignored
  calls.clear();
  center.post("changed");
  EXPECT_EQ(calls, (std::vector<std::string>{"b"}));
}

TEST(NotificationCenter, ObserversMayRemoveOthersAndThrowingOnesAreContained) {
  NotificationCenter center;
  std::vector<std::string> calls;
  NotificationCenter::Token second = 0;
  center.addObserver("n", [&](const Notification&) {
    calls.push_back("first");
    center.removeObserver(second);
    throw std::runtime_error("observer failure");
  });
  second = center.addObserver("n", [&](const Notification&) { calls.push_back("second"); });
  center.addObserver("n", [&](const Notification&) { calls.push_back("third"); });
  center.post("n");
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"}));
}
