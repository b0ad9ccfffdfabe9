// The kit's side of an instrument: what its link, its peripheral and the connection
// controllers report to it. Not for applications (the interfaces are private to the instrument).
#pragma once

#include "hcf/instrument/hcf_color_instrument.h"

HCF_NAMESPACE_BEGIN

class InstrumentLinkAccess {
 public:
  InstrumentLinkAccess() = delete;

  /// The instrument as its link's delegate.
  static HTKuboPeripheralManDelegate& link(HCFColorInstrument& instrument) { return instrument; }
  /// The instrument as its peripheral's delegate.
  static ble::PeripheralDelegate& peripheral(HCFColorInstrument& instrument) { return instrument; }
  /// The peripheral of `instrument` disconnected.
  static void deviceDisconnected(HCFColorInstrument& instrument) {
    instrument.deviceDisconnected();
  }
};

HCF_NAMESPACE_END
