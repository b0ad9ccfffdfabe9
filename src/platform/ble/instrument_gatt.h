// The GATT identifiers of the kit's instruments, as their firmware defines them: one table for
// the links that talk to the instruments and the simulated instruments that answer them.
#pragma once

#include "hcf/core/bytes.h"
#include "hcf/platform/ble/uuid.h"

HCF_NAMESPACE_BEGIN
namespace ble::instrument_gatt {

// ---- both instrument families -----------------------------------------------------------
const UUID& battery();
const UUID& serial();
const UUID& version();
const UUID& button();
const UUID& connectConfirm();
const UUID& chargingStatus();

// ---- colorimeters -----------------------------------------------------------------------
const UUID& colorimeterService();
const UUID& colorimeterUpdateService1();
const UUID& colorimeterUpdateService2();
const UUID& colorimeterSense();
const UUID& colorimeterEmissiveSense();
const UUID& colorimeterTemperature();
const UUID& colorimeterOtaControl();
const UUID& colorimeterOtaData();

// ---- spectrometers ----------------------------------------------------------------------
const UUID& spectrometerService();
const UUID& spectrometerScan();
const UUID& spectrometerEmissiveScan();
const UUID& spectrometerError();

/// The one-byte command both families take: written to a scan characteristic it starts a
/// scan, written to the connection-confirm characteristic it confirms the link (keep-alive).
inline const Bytes kCommand = {0x01};

}  // namespace ble::instrument_gatt
HCF_NAMESPACE_END
