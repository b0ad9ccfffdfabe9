// The characteristics the colorimeter and the spectrometer links have in common: the same
// UUIDs, the same layouts, the same callbacks.
#pragma once

#include "hcf/core/export.h"
#include "hcf/link/ht_kubo_peripheral_manager.h"
#include "hcf/platform/ble/uuid.h"

HCF_NAMESPACE_BEGIN
namespace shared_gatt {

const ble::UUID& battery();
const ble::UUID& serial();
const ble::UUID& version();
const ble::UUID& button();
const ble::UUID& connectConfirm();
const ble::UUID& chargingStatus();

/// Decodes a value of one of the shared characteristics and reports it to `delegate`; false
/// for any other characteristic. A value of the wrong length is dropped (true: it was ours).
bool report(const ble::UUID& characteristic, const ble::Bytes& value,
            HTKuboPeripheralManDelegate& delegate);

}  // namespace shared_gatt
HCF_NAMESPACE_END
