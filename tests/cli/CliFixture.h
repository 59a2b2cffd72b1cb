#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "link/ForwardingApi.h"
#include "cli/Cli.h"
#include "link/Clock.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

// tandra-cli in this process, on a virtual programmer whose time moves only when it is waited
// for, with a scratch folder and a 32 KiB image of random bytes in it ("image.bin").
class CliFixture : public ::testing::Test {
 protected:
  using Bytes = std::vector<std::uint8_t>;

  CliFixture() {
    folder_ = std::filesystem::temp_directory_path() /
              ("tandra-cli-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder_);
    std::mt19937 random(7);
    image_.resize(0x8000);
    for (auto& byte : image_) byte = static_cast<std::uint8_t>(random());
    image_[0x1A7F] = 0x3C;
    write("image.bin", std::string(image_.begin(), image_.end()));
  }
  ~CliFixture() override { std::filesystem::remove_all(folder_); }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  // Runs a command line on the test's programmer (or on `driver`).
  int run(std::vector<std::string> arguments, FtApi* driver = nullptr) {
    out_.str("");
    err_.str("");
    cli::CliIo io(out_, err_);
    io.stopSignal = &stopSignal_;
    io.driver = driver != nullptr ? driver : &programmer_;
    io.clock = &clock_;
    return cli::runCli(arguments, io);
  }
  nlohmann::json runJson(std::vector<std::string> arguments, FtApi* driver = nullptr) {
    arguments.push_back("--json");
    code_ = run(arguments, driver);
    return nlohmann::json::parse(out_.str());
  }
  bool says(const std::string& text) const {
    return out_.str().find(text) != std::string::npos || err_.str().find(text) != std::string::npos;
  }
  bool chipHoldsTheImage(int socket) {
    const auto& cells = programmer_.chip(socket).cells();
    return std::equal(image_.begin(), image_.end(), cells.begin());
  }
  int count(std::uint8_t opcode) const {
    int n = 0;
    for (const Bytes& packet : programmer_.packets()) n += packet[0] == opcode;
    return n;
  }

  ManualClock clock_;
  VirtualProgrammer programmer_{clock_};
  std::atomic<int> stopSignal_{0};
  std::ostringstream out_, err_;
  Bytes image_;
  std::filesystem::path folder_;
  int code_ = -1;
};

}  // namespace tandra::test
