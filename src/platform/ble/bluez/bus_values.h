// What crosses from the bus thread to the main queue: plain values decoded from BlueZ's
// messages. No D-Bus type appears here.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hcf/core/bytes.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

inline constexpr const char* kBluezName = "org.bluez";
inline constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
inline constexpr const char* kDeviceInterface = "org.bluez.Device1";
inline constexpr const char* kServiceInterface = "org.bluez.GattService1";
inline constexpr const char* kCharacteristicInterface = "org.bluez.GattCharacteristic1";

/// An error reply: the D-Bus error name ("org.bluez.Error.Failed") and its message.
struct BusError {
  std::string name;
  std::string message;
};

/// The properties the backend follows, of every interface it follows. A member is set when the
/// message carried that property with the expected type; anything else is left out.
struct Properties {
  // org.bluez.Adapter1
  std::optional<bool> powered;
  std::optional<bool> discovering;
  // org.bluez.Adapter1 and org.bluez.Device1
  std::optional<std::string> address;
  // org.bluez.Device1
  std::optional<std::string> addressType;
  std::optional<std::string> name;
  std::optional<std::string> alias;
  std::optional<std::string> adapter;
  std::optional<std::int16_t> rssi;
  std::optional<std::vector<std::string>> uuids;
  std::optional<std::map<std::uint16_t, Bytes>> manufacturerData;
  std::optional<bool> connected;
  std::optional<bool> servicesResolved;
  // org.bluez.GattService1 and org.bluez.GattCharacteristic1
  std::optional<std::string> uuid;
  std::optional<std::string> device;
  std::optional<std::string> service;
  std::optional<std::vector<std::string>> flags;
  std::optional<Bytes> value;
  std::optional<bool> notifying;
};

/// Interface name → its properties.
using InterfaceMap = std::map<std::string, Properties>;

/// An object appeared, or gained interfaces ("InterfacesAdded", or one object of a
/// "GetManagedObjects" reply).
struct ObjectAdded {
  std::string path;
  InterfaceMap interfaces;
};

/// An object lost interfaces ("InterfacesRemoved").
struct ObjectRemoved {
  std::string path;
  std::vector<std::string> interfaces;
};

/// "PropertiesChanged" of one interface of one object.
struct PropertiesChanged {
  std::string path;
  std::string interface;
  Properties changed;
  std::vector<std::string> invalidated;
};

/// org.bluez gained (bluetoothd started) or lost (bluetoothd went away) its owner, or the bus
/// itself was lost (`present` false for good).
struct DaemonChanged {
  bool present = false;
  bool busLost = false;
};

/// A message from the bus, in the order it left the socket.
using BusEvent = std::variant<ObjectAdded, ObjectRemoved, PropertiesChanged, DaemonChanged>;

/// A value of an "a{sv}" option argument.
using OptionValue = std::variant<std::string, std::vector<std::string>, bool>;

/// A method call to make: `bytes` becomes a leading "ay" argument and `options` a trailing
/// "a{sv}" argument, when set.
struct Call {
  std::string path;
  std::string interface;
  std::string member;
  std::optional<Bytes> bytes;
  std::optional<std::map<std::string, OptionValue>> options;
  std::string destination = kBluezName;
};

/// The answer to a call: an error, or what the method returned ("ay" of ReadValue, the
/// objects of GetManagedObjects).
struct Reply {
  std::optional<BusError> error;
  std::optional<Bytes> bytes;
  std::optional<std::vector<ObjectAdded>> objects;
};

}  // namespace ble::bluez
HCF_NAMESPACE_END
