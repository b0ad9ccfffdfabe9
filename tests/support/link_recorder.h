// Records what an instrument's GATT link reports, as text in arrival order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hcf/link/ht_kubo_peripheral_manager.h"

namespace hcf_test {

// Records what the link reports.
struct LinkRecorder : hcf::HTKuboPeripheralManDelegate {
  std::vector<std::vector<float>> responses;
  int ready = 0;
  int failed = 0;
  std::vector<std::string> values;
  std::vector<float> volts;
  void peripheralManagerIsReady(hcf::HTKuboPeripheralManager&) override { ++ready; }
  void peripheralManagerFailedToInit(hcf::HTKuboPeripheralManager&) override { ++failed; }
  void gotVersion(std::uint8_t major, std::uint8_t minor) override {
    values.push_back("version " + std::to_string(major) + "." + std::to_string(minor));
  }
  void gotSerial(const std::string& serial) override { values.push_back("serial " + serial); }
  void gotBatt(float v) override {
    volts.push_back(v);
    values.push_back("battery");
  }
  void gotButtonPress() override { values.push_back("button"); }
  void gotCharging(bool charging, bool onPower) override {
    values.push_back(std::string("charging ") + (charging ? "yes" : "no") + " power " +
                     (onPower ? "yes" : "no"));
  }
  void gotXyzScanX(std::uint16_t x, std::uint16_t y, std::uint16_t z) override {
    values.push_back("scan " + std::to_string(x) + " " + std::to_string(y) + " " +
                     std::to_string(z));
  }
  void gotTemperature(float t) override { values.push_back("temperature " + std::to_string(t)); }
  void gotSpectralResponse(const std::vector<float>& response) override {
    responses.push_back(response);
    values.push_back("spectrum");
  }
  void gotDeviceError(std::uint8_t code) override {
    values.push_back("device error " + std::to_string(code));
  }
};

}  // namespace hcf_test
