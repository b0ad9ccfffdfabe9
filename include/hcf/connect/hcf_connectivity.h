// The connectivity states the connection controllers report, and their listener.
#pragma once

#include <cstdint>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN

/// Where a connection controller is in finding and connecting an instrument.
enum class HCFConnectivityState : std::int64_t {
  NotStarted = 0,            ///< before any report (multi-connect only)
  Idle = 1,                  ///< nothing in progress
  Scanning = 2,              ///< a scan window is open
  Connecting = 3,            ///< a connection request is outstanding
  AwaitingConfirmation = 4,  ///< connected instruments wait for a button press (multi-connect)
  Initializing = 5,          ///< the instrument is being created, identified and calibrated
  Connected = 6,             ///< an instrument is ready: the connection manager's device
};

/// Receives the controllers' progress on the main queue.
class HCF_API HCFConnectionManagerDelegate {
 public:
  virtual ~HCFConnectionManagerDelegate();
  /// The controller entered `state`; `discoveredPeripherals` instruments are known so far.
  virtual void onStateChanged(HCFConnectivityState state, std::size_t discoveredPeripherals) = 0;
  /// Something the user may want to know that did not stop the cycle: no button was pressed
  /// in the confirmation window (9006). Empty by default.
  virtual void onWarning(const HCFError& warning);
  /// The pressed instrument could not be made ready (its calibration failed); the cycle starts
  /// again. Empty by default.
  virtual void onError(const HCFError& error);
};

HCF_NAMESPACE_END
