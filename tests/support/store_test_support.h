// A fresh data directory per test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "hcf/store/hcf_realm_manager.h"

namespace hcf_test {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("hcf-store-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    hcf::HCFRealmManager::setDocDirectory(dir_);
  }
  void TearDown() override {
    hcf::HCFRealmManager::setDocDirectory(std::nullopt);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

}  // namespace hcf_test
