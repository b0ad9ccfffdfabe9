// How an instrument asks the kit's connection manager to drop its peripheral. The connection
// manager installs the handler; without one, disconnecting an instrument does nothing.
#pragma once

#include <functional>
#include <memory>

#include "hcf/core/export.h"
#include "hcf/platform/ble/peripheral.h"

HCF_NAMESPACE_BEGIN

using PeripheralDisconnector = std::function<void(const std::shared_ptr<ble::Peripheral>&)>;

void setPeripheralDisconnector(PeripheralDisconnector disconnector);
const PeripheralDisconnector& peripheralDisconnector();

HCF_NAMESPACE_END
