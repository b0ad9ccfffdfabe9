// The platform's Bluetooth errors as the kit reports them.
#pragma once

#include "hcf/core/hcf_error.h"
#include "hcf/platform/ble/gatt.h"

HCF_NAMESPACE_BEGIN

/// Domain "CBErrorDomain", the platform's code and message.
HCFError bluetoothError(const ble::Error& error);

HCF_NAMESPACE_END
