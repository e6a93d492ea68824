// Common fixture: a fake bus and host plugged into the library, the log in a temporary file.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "fake_token.h"
#include "uk_log.h"
#include "uk_platform.h"
#include "uk_tokenlib.h"
#include "uk_transport.h"

class RoadTest : public testing::Test {
 protected:
  void SetUp() override {
    logFile_ = testing::TempDir() + "uk_transport_test.log";
    std::remove(logFile_.c_str());
    uk::setLogPath(logFile_.c_str());
    host.serverBus = &bus;
    uk::setPlatform(&bus, &host);
  }
  void TearDown() override {
    uk::setPlatform(nullptr, nullptr);
    uk::setLogPath(nullptr);
  }

  std::string logText() const {
    std::ifstream f(logFile_, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  void clearLog() { std::remove(logFile_.c_str()); }

  // Opens a connection to the first token.
  UK_USB_DEV_CTX *connect(size_t index = 0) {
    UK_USB_DEV_CTX *conn = nullptr;
    EXPECT_EQ(uk::openConnection(bus.devices.at(index).usbPath.c_str(), &conn), 0u);
    return conn;
  }

  // Sends an APDU; returns the result, the framed response in resp.
  uint32_t send(UK_USB_DEV_CTX *conn, const fake::Bytes &apdu, fake::Bytes *resp = nullptr,
                uint32_t cap = 2048) {
    std::vector<uint8_t> out(cap + 1);
    uint32_t len = cap;
    uint32_t rc = uk::sendApdu(conn, apdu.data(), uint32_t(apdu.size()), out.data(), &len);
    bool answered = rc == 0 || rc >= 0x80000000u;
    if (resp) resp->assign(out.begin(), out.begin() + (answered ? len : 0));
    return rc;
  }

  fake::Bus bus;
  fake::Host host;

 private:
  std::string logFile_;
};
