// The two interfaces between an instrument and its GATT link: the link's operations and the
// callbacks through which it reports what the instrument sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/platform/ble/peripheral.h"

HCF_NAMESPACE_BEGIN

class HTKuboPeripheralManager;

/// What a GATT link reports to its owner (the instrument). All callbacks come on the main
/// queue, synchronously with the Bluetooth event that caused them. The optional ones have
/// empty defaults.
class HCF_API HTKuboPeripheralManDelegate {
 public:
  virtual ~HTKuboPeripheralManDelegate();

  /// Every required characteristic is known: commands work from now on. Sent again after each
  /// later characteristic report.
  virtual void peripheralManagerIsReady(HTKuboPeripheralManager& manager) = 0;
  /// The instrument's main service is missing; the link will never become ready.
  virtual void peripheralManagerFailedToInit(HTKuboPeripheralManager& manager) = 0;
  /// The firmware version, major and minor.
  virtual void gotVersion(std::uint8_t major, std::uint8_t minor) = 0;
  /// The serial number as twelve upper-case hexadecimal digits.
  virtual void gotSerial(const std::string& serial) = 0;
  /// The battery voltage, volts.
  virtual void gotBatt(float volts) = 0;
  /// The user pressed the instrument's button.
  virtual void gotButtonPress() = 0;
  /// The charge flags: `charging` is the instrument's charge flag, `onPower` true on external
  /// power.
  virtual void gotCharging(bool charging, bool onPower) = 0;
  /// The three raw sensor counts of a scan (reflective or emissive: the caller knows which it
  /// asked for). Colorimeters only.
  virtual void gotXyzScanX(std::uint16_t x, std::uint16_t y, std::uint16_t z);
  /// The instrument's temperature, degrees.
  virtual void gotTemperature(float degrees);
  /// The 32 values of a spectral response, each in [0, 1]. Spectrometers only.
  virtual void gotSpectralResponse(const std::vector<float>& response);
  /// An error code the instrument reported. Spectrometers only.
  virtual void gotDeviceError(std::uint8_t code);
  /// A read or a subscription of `characteristic` failed: nothing was decoded (the
  /// characteristic's cached value is an earlier answer), and the request waiting for it
  /// should fail. `error` is the platform's.
  virtual void gotCharacteristicError(const ble::UUID& characteristic, const ble::Error& error);
};

/// The operations of an instrument's GATT link. Commands only queue Bluetooth requests;
/// answers come later through the delegate. Call them on the main queue.
class HCF_API HTKuboPeripheralManager {
 public:
  virtual ~HTKuboPeripheralManager();

  /// Asks for the serial number and the firmware version.
  virtual void getStatus() = 0;
  /// Sends the connection-confirm (keep-alive) write.
  virtual void confirmConnection() = 0;
  /// Asks for the battery reading and the charge flags.
  virtual void getBattInfo() = 0;
  /// Starts one reflective scan.
  virtual void getScan() = 0;
  /// Starts one emissive scan (nothing happens when the instrument has no emissive mode).
  virtual void getEScan() = 0;
  /// The peripheral the link talks to.
  virtual std::shared_ptr<ble::Peripheral> cbperipheral() const = 0;
  /// Asks for the temperature; links without a temperature do nothing.
  virtual void getTemp();
};

HCF_NAMESPACE_END
