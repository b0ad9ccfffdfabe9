// Reachability from the machine's routes, and its notifier.
#include "hcf/platform/reachability/hi_reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <filesystem>
#include <fstream>

#include "../support/main_queue_fixture.h"
#include "hcf/platform/notify/notification_center.h"

using hcf::HIReachability;
using hcf::NetworkStatus;
using namespace hcf::reachability_flags;
using namespace std::chrono_literals;

TEST(ReachabilityFlags, NetworkStatusArithmetic) {
  EXPECT_EQ(HIReachability::networkStatusForFlags(0), NetworkStatus::NotReachable);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kIsWWAN), NetworkStatus::NotReachable);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kReachable), NetworkStatus::ReachableViaWiFi);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kReachable | kConnectionRequired),
            NetworkStatus::NotReachable);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kReachable | kConnectionRequired |
                                                  kConnectionOnTraffic),
            NetworkStatus::ReachableViaWiFi);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kReachable | kConnectionRequired |
                                                  kConnectionOnDemand | kInterventionRequired),
            NetworkStatus::NotReachable);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kReachable | kIsWWAN),
            NetworkStatus::ReachableViaWWAN);
  EXPECT_EQ(HIReachability::networkStatusForFlags(kReachable | kConnectionRequired | kIsWWAN),
            NetworkStatus::ReachableViaWWAN);  // the last rule wins, as stated
  EXPECT_EQ(HIReachability::localWiFiStatusForFlags(kReachable | kIsDirect),
            NetworkStatus::ReachableViaWiFi);
  EXPECT_EQ(HIReachability::localWiFiStatusForFlags(kReachable), NetworkStatus::NotReachable);
  EXPECT_EQ(HIReachability::localWiFiStatusForFlags(kIsDirect), NetworkStatus::NotReachable);
}

namespace {

// A fake machine: proc/net/route, proc/net/ipv6_route and sys/class/net/<if>/{flags,operstate}.
class FakeNetwork : public hcf_test::MainQueueTest {
 protected:
  void SetUp() override {
    MainQueueTest::SetUp();
    root_ = std::filesystem::temp_directory_path() /
            ("hcf-net-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "proc/net");
    HIReachability::setNetworkStateRoot(root_);
  }
  void TearDown() override {
    HIReachability::setNetworkStateRoot("/");
    std::filesystem::remove_all(root_);
    MainQueueTest::TearDown();
  }
  // Routes: "iface dest gateway flags mask" in the kernel's hexadecimal.
  void routes(const std::vector<std::string>& lines) {
    std::ofstream out(root_ / "proc/net/route");
    out << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    for (const auto& l : lines) {
      std::istringstream f(l);
      std::string iface, dest, gw, flags, mask;
      f >> iface >> dest >> gw >> flags >> mask;
      out << iface << '\t' << dest << '\t' << gw << '\t' << flags << "\t0\t0\t0\t" << mask
          << "\t0\t0\t0\n";
    }
  }
  void interface(const std::string& name, bool up) {
    const auto dir = root_ / "sys/class/net" / name;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "flags") << (up ? "0x1003\n" : "0x1002\n");
    std::ofstream(dir / "operstate") << (up ? "up\n" : "down\n");
  }
  std::filesystem::path root_;
};

// Default route through 192.168.1.1 on eth0, and its directly connected 192.168.1.0/24.
const std::vector<std::string> kHomeNetwork = {"eth0 00000000 0101A8C0 0003 00000000",
                                               "eth0 0001A8C0 00000000 0001 00FFFFFF"};

}  // namespace

TEST_F(FakeNetwork, InternetThroughTheDefaultRouteOnAnInterfaceThatIsUp) {
  routes(kHomeNetwork);
  interface("eth0", true);
  auto internet = HIReachability::reachabilityForInternetConnection();
  EXPECT_EQ(internet->reachabilityFlags(), kReachable);
  EXPECT_EQ(internet->currentReachabilityStatus(), NetworkStatus::ReachableViaWiFi);
  EXPECT_FALSE(internet->connectionRequired());
  auto local = HIReachability::reachabilityForLocalWiFi();
  EXPECT_TRUE(local->alwaysReturnLocalWiFiStatus());
  EXPECT_EQ(local->currentReachabilityStatus(), NetworkStatus::ReachableViaWiFi);
  interface("eth0", false);  // cable out
  EXPECT_EQ(internet->currentReachabilityStatus(), NetworkStatus::NotReachable);
  EXPECT_EQ(local->currentReachabilityStatus(), NetworkStatus::NotReachable);
}

TEST_F(FakeNetwork, AddressesTakeTheLongestMatchingRoute) {
  routes(kHomeNetwork);
  interface("eth0", true);
  sockaddr_in onLan{};
  onLan.sin_family = AF_INET;
  inet_pton(AF_INET, "192.168.1.20", &onLan.sin_addr);
  EXPECT_EQ(HIReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&onLan))
                ->reachabilityFlags(),
            kReachable | kIsDirect);
  EXPECT_EQ(HIReachability::reachabilityWithHostName("8.8.8.8")->reachabilityFlags(), kReachable);
  EXPECT_EQ(HIReachability::reachabilityWithHostName("127.0.0.1")->reachabilityFlags(),
            kReachable | kIsLocalAddress | kIsDirect);
  EXPECT_EQ(HIReachability::reachabilityWithHostName("localhost")->reachabilityFlags(),
            kReachable | kIsLocalAddress | kIsDirect);
  EXPECT_EQ(HIReachability::reachabilityWithHostName("::1")->reachabilityFlags(),
            kReachable | kIsLocalAddress | kIsDirect);
  EXPECT_EQ(HIReachability::reachabilityWithHostName(""), nullptr);
  sockaddr unknown{};
  unknown.sa_family = AF_UNIX;
  EXPECT_EQ(HIReachability::reachabilityWithAddress(&unknown), nullptr);
  EXPECT_EQ(HIReachability::reachabilityWithAddress(nullptr), nullptr);
}

TEST_F(FakeNetwork, ACellularModemGivesWWANAndNoLocalNetwork) {
  routes({"wwan0 00000000 00000000 0001 00000000"});
  interface("wwan0", true);
  EXPECT_EQ(HIReachability::reachabilityForInternetConnection()->currentReachabilityStatus(),
            NetworkStatus::ReachableViaWWAN);
  EXPECT_EQ(HIReachability::reachabilityForLocalWiFi()->currentReachabilityStatus(),
            NetworkStatus::NotReachable);
}

TEST_F(FakeNetwork, TheKernelsDeviceTypeTellsAModemFromWiFi) {
  struct Row {
    const char* name;
    const char* uevent;  // nullptr: no uevent file
    NetworkStatus expected;
  };
  const Row rows[] = {
      {"wwp0s20f0u6", "DEVTYPE=wwan\nINTERFACE=wwp0s20f0u6\nIFINDEX=4\n",
       NetworkStatus::ReachableViaWWAN},
      {"wlp2s0", "DEVTYPE=wlan\nINTERFACE=wlp2s0\nIFINDEX=3\n", NetworkStatus::ReachableViaWiFi},
      {"enp3s0", "INTERFACE=enp3s0\nIFINDEX=2\n", NetworkStatus::ReachableViaWiFi},
      {"wwan0", nullptr, NetworkStatus::ReachableViaWWAN},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(root_ / "sys");
    routes({std::string(row.name) + " 00000000 0101A8C0 0003 00000000"});
    interface(row.name, true);
    if (row.uevent) std::ofstream(root_ / "sys/class/net" / row.name / "uevent") << row.uevent;
    EXPECT_EQ(HIReachability::reachabilityForInternetConnection()->currentReachabilityStatus(),
              row.expected);
  }
}

TEST_F(FakeNetwork, UnreadableStateIsNotReachable) {
  auto internet = HIReachability::reachabilityForInternetConnection();
  EXPECT_FALSE(internet->reachabilityFlags().has_value());  // no proc/net/route at all
  EXPECT_EQ(internet->currentReachabilityStatus(), NetworkStatus::NotReachable);
  EXPECT_FALSE(internet->connectionRequired());
  std::ofstream(root_ / "proc/net/route") << "Iface\tDestination\n garbage line\n";
  EXPECT_EQ(internet->reachabilityFlags(), 0u);
}

TEST_F(FakeNetwork, NotifierPostsOnTheMainQueueWhenTheStatusChanges) {
  routes(kHomeNetwork);
  interface("eth0", true);
  auto internet = HIReachability::reachabilityForInternetConnection();
  int posted = 0;
  std::shared_ptr<HIReachability> sender;
  auto& center = hcf::notify::NotificationCenter::defaultCenter();
  const auto token =
      center.addObserver(hcf::notify::kNetworkReachabilityChangedNotification,
                         [&](const hcf::notify::Notification& n) {
                           ++posted;
                           EXPECT_TRUE(queue().isCurrent());
                           sender = std::any_cast<std::shared_ptr<HIReachability>>(n.object);
                         });
  ASSERT_TRUE(internet->startNotifier());
  advance(10s);
  EXPECT_EQ(posted, 0);  // nothing changed
  interface("eth0", false);
  advance(3s);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(sender, internet);
  advance(10s);
  EXPECT_EQ(posted, 1);  // only changes are posted
  interface("eth0", true);
  internet->stopNotifier();
  advance(10s);
  EXPECT_EQ(posted, 1);
  center.removeObserver(token);
}
