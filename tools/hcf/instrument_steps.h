// The steps of the measuring path that hcf demo and hcf measure share: discover, connect,
// calibrate, measure and disconnect, each waiting for the kit's answer.
#pragma once

#include <hcf/hcf.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chart.h"
#include "cli.h"
#include "sim_session.h"

namespace hcf_tool {

/// One discovery pass: the instruments found, or nothing and `error`.
std::optional<std::vector<hcf::HPeripheralWRSSI>> discover(SimSession& s, bool restricted,
                                                           std::optional<hcf::HCFError>& error);
/// Connects by serial (or the strongest when empty); the error, if any.
std::optional<hcf::HCFError> connect(SimSession& s, const std::string& serial);
/// White calibration (a colorimeter measures its own white tile); the error, if any.
std::optional<hcf::HCFError> calibrate(SimSession& s, hcf::HCFColorInstrument& device);
/// Puts chart patch `patch` (number `index`) in front of the instrument and measures it: the
/// scan, or nothing and `error`.
std::shared_ptr<hcf::HCFColorScan> measure(SimSession& s, hcf::HCFColorInstrument& device,
                                           const Patch& patch, std::size_t index,
                                           std::optional<hcf::HCFError>& error);
/// One colour scan of `device` of whatever is in front of it: the scan, or nothing and `error`.
std::shared_ptr<hcf::HCFColorScan> measureNow(hcf::HCFColorInstrument& device,
                                              std::optional<hcf::HCFError>& error);
void disconnectCurrent(SimSession& s);

/// The Bluetooth backend of --sim or --ble sim|bluez; a usage error without one.
Radio radioOf(const Args& args);
/// The adapter of --adapter ("hci1"), empty for the first; a usage error on the simulated
/// radio or for a name that is no adapter's.
std::string adapterOf(const Args& args);

/// Raises Failure "STEP: the kit's message"; when Bluetooth was not usable, the message says
/// which state the radio reported and what to do about it.
[[noreturn]] void fail(const std::string& step, const hcf::HCFError& error);

}  // namespace hcf_tool
