// The bus thread: the only code that touches D-Bus. It owns the system-bus connection, polls
// it together with a wake-up descriptor, makes the calls posted to it (all asynchronous), and
// turns every signal and reply into plain values that it posts to the main queue in the order
// they left the socket.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bus_values.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

class BusThread {
 public:
  /// Receives each signal, on the main queue.
  using EventHandler = std::function<void(BusEvent event)>;
  /// Receives the answer to a call, on the main queue.
  using ReplyHandler = std::function<void(Reply reply)>;

  /// Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set), installs the match rules
  /// for BlueZ's signals and starts the thread. Empty, with `error` set, when the bus cannot
  /// be reached.
  static std::unique_ptr<BusThread> start(EventHandler handler, BusError& error);

  /// Stops the thread; replies still outstanding are never delivered.
  ~BusThread();
  BusThread(const BusThread&) = delete;
  BusThread& operator=(const BusThread&) = delete;

  /// Makes `call`; `done` gets the reply (or the error) on the main queue. Any thread.
  void call(Call call, ReplyHandler done);

  struct Impl;
  explicit BusThread(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ble::bluez
HCF_NAMESPACE_END
