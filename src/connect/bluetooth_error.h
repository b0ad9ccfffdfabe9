// The platform's Bluetooth errors as the kit reports them.
#pragma once

#include "hcf/core/hcf_error.h"
#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/ble/gatt.h"

HCF_NAMESPACE_BEGIN

/// Domain "CBErrorDomain", the platform's code and message.
HCFError bluetoothError(const ble::Error& error);

/// Why the radio cannot be used in `state` (9005, "no BLE"), in words that tell the person
/// what to do: Bluetooth switched off, no Bluetooth service at all, not permitted, or not
/// ready yet.
HCFError radioStateError(ble::ManagerState state);

HCF_NAMESPACE_END
