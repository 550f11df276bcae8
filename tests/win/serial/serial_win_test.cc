// Serial connections over a real serial line: Wine maps a pseudo-terminal to
// a COM port (HKLM\Software\Wine\Ports); socat joins the pseudo-terminal's
// other side to a TCP socket, the "far end" this test talks through.
// run_serial_test.py sets the line up and passes VEK_SERIAL_PORT (e.g. COM7)
// and VEK_SERIAL_FAR_PORT (the TCP port of the far end).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/serial_operations.h"

namespace vek_native {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13 + i / 256);
  return bytes;
}

// The far end of the line: a TCP connection to socat.
class FarEnd {
 public:
  bool Connect(int port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~FarEnd() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    WSACleanup();
  }
  bool Send(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const int n = send(socket_, reinterpret_cast<const char*>(bytes.data() + sent),
                         static_cast<int>(bytes.size() - sent), 0);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // Receives exactly `size` bytes, or fewer when `timeout_ms` passes.
  std::vector<uint8_t> Receive(size_t size, DWORD timeout_ms) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof(timeout_ms));
    std::vector<uint8_t> bytes(size);
    size_t got = 0;
    while (got < size) {
      const int n = recv(socket_, reinterpret_cast<char*>(bytes.data() + got),
                         static_cast<int>(size - got), 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// socat serves one connection: every test of this run shares it.
FarEnd* Remote(int port) {
  static FarEnd* remote = [port] {
    auto* end = new FarEnd();
    return end->Connect(port) ? end : nullptr;
  }();
  return remote;
}

class EventLog {
 public:
  EventEmitter Emitter() {
    return [this](EncodableMap&& event) {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(event));
    };
  }
  std::vector<EncodableMap> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(events_);
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
  }
  size_t Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t total = 0;
    for (const EncodableMap& event : events_) {
      total += std::get<std::vector<uint8_t>>(event.at(EncodableValue("data"))).size();
    }
    return total;
  }
  // Waits until `bytes` data bytes arrived or `timeout` passed.
  bool WaitForBytes(size_t bytes, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Bytes() < bytes) {
      if (std::chrono::steady_clock::now() > end) return false;
      Sleep(10);
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<EncodableMap> events_;
};

class SerialLineTest : public testing::Test {
 protected:
  void SetUp() override {
    port_ = Env("VEK_SERIAL_PORT");
    far_port_ = std::atoi(Env("VEK_SERIAL_FAR_PORT").c_str());
    if (port_.empty() || far_port_ == 0) {
      GTEST_SKIP() << "no serial line: run through run_serial_test.py, which maps a "
                      "pseudo-terminal to a COM port";
    }
  }
  std::string port_;
  int far_port_ = 0;
};

TEST_F(SerialLineTest, ListOpenReadWriteClose) {
  ASSERT_NE(Remote(far_port_), nullptr);
  FarEnd& remote = *Remote(far_port_);
  EventLog log;
  BridgeOperations ops;
  PlugSerialOperations(ops, log.Emitter());
  std::string message;

  EncodableValue list;
  ASSERT_TRUE(ops.list_serial_ports(&list, &message));
  bool listed = false;
  for (const EncodableValue& entry : std::get<EncodableList>(list)) {
    const auto& record = std::get<EncodableMap>(entry);
    EXPECT_TRUE(record.count(EncodableValue("description")));
    if (std::get<std::string>(record.at(EncodableValue("port"))) == port_) listed = true;
  }
  EXPECT_TRUE(listed) << port_ << " missing from listSerialPorts";

  int64_t handle = 0;
  ASSERT_TRUE(ops.open_serial(port_, 115200, &handle, &message)) << message;
  EXPECT_EQ(handle, 1);

  // The port is opened exclusively.
  int64_t second = 0;
  EXPECT_FALSE(ops.open_serial(port_, 115200, &second, &message));
  EXPECT_EQ(message.rfind("打开串口失败（Win32 错误码 ", 0), 0u) << message;

  // Far end -> port: ordered, complete "serial" events of at most 4096 bytes.
  const std::vector<uint8_t> inbound = Pattern(10000, 1);
  ASSERT_TRUE(remote.Send(inbound));
  ASSERT_TRUE(log.WaitForBytes(inbound.size(), std::chrono::seconds(30))) << log.Bytes();
  std::vector<uint8_t> received;
  for (const EncodableMap& event : log.Take()) {
    EXPECT_EQ(std::get<std::string>(event.at(EncodableValue("channel"))), "serial");
    EXPECT_EQ(std::get<int64_t>(event.at(EncodableValue("handle"))), 1);
    const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
    EXPECT_GE(data.size(), 1u);
    EXPECT_LE(data.size(), 4096u);
    received.insert(received.end(), data.begin(), data.end());
  }
  EXPECT_EQ(received, inbound);

  // Port -> far end.
  const std::vector<uint8_t> outbound = Pattern(5000, 2);
  EXPECT_TRUE(ops.write_serial(handle, outbound, &message)) << message;
  EXPECT_EQ(remote.Receive(outbound.size(), 10000), outbound);
  EXPECT_TRUE(ops.write_serial(handle, {}, &message));

  // After close no event arrives, and the handle is gone.
  ops.close_serial(handle);
  ASSERT_TRUE(remote.Send(Pattern(100, 3)));
  Sleep(1500);
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_FALSE(ops.write_serial(handle, {1}, &message));
  EXPECT_EQ(message, "串口句柄不存在");
  ops.close_serial(handle);

  // A second open takes the next handle; the bytes sent while closed were
  // purged at open, so only new ones arrive.
  ASSERT_TRUE(ops.open_serial(port_, 0, &second, &message)) << message;
  EXPECT_EQ(second, 2);
  const std::vector<uint8_t> again = Pattern(300, 4);
  ASSERT_TRUE(remote.Send(again));
  ASSERT_TRUE(log.WaitForBytes(again.size(), std::chrono::seconds(10)));
  received.clear();
  for (const EncodableMap& event : log.Take()) {
    EXPECT_EQ(std::get<int64_t>(event.at(EncodableValue("handle"))), 2);
    const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
    received.insert(received.end(), data.begin(), data.end());
  }
  EXPECT_EQ(received, again);
  ops.close_all_serial();
  EXPECT_FALSE(ops.write_serial(second, {1}, &message));
  EXPECT_EQ(message, "串口句柄不存在");
}

// A sustained transfer each way; the rate is printed, never asserted.
TEST_F(SerialLineTest, SustainedTransfer) {
  const size_t size = Env("VEK_SERIAL_BULK_BYTES").empty()
                          ? 0
                          : std::strtoul(Env("VEK_SERIAL_BULK_BYTES").c_str(), nullptr, 10);
  if (size == 0) GTEST_SKIP() << "set VEK_SERIAL_BULK_BYTES to measure a sustained transfer";
  ASSERT_NE(Remote(far_port_), nullptr);
  FarEnd& remote = *Remote(far_port_);
  EventLog log;
  BridgeOperations ops;
  PlugSerialOperations(ops, log.Emitter());
  std::string message;
  int64_t handle = 0;
  ASSERT_TRUE(ops.open_serial(port_, 115200, &handle, &message)) << message;

  const std::vector<uint8_t> inbound = Pattern(size, 5);
  auto start = std::chrono::steady_clock::now();
  std::thread sender([&] { remote.Send(inbound); });
  const bool all_in = log.WaitForBytes(size, std::chrono::seconds(240));
  sender.join();
  const double in_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(all_in) << log.Bytes();
  std::vector<uint8_t> received;
  for (const EncodableMap& event : log.Take()) {
    const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
    received.insert(received.end(), data.begin(), data.end());
  }
  EXPECT_EQ(received == inbound, true);

  const std::vector<uint8_t> outbound = Pattern(size, 6);
  std::vector<uint8_t> far_received;
  start = std::chrono::steady_clock::now();
  std::thread receiver([&] { far_received = remote.Receive(size, 60000); });
  for (size_t offset = 0; offset < size; offset += 65536) {
    const size_t n = std::min<size_t>(65536, size - offset);
    ASSERT_TRUE(ops.write_serial(
        handle, std::vector<uint8_t>(outbound.begin() + offset, outbound.begin() + offset + n),
        &message))
        << message;
  }
  receiver.join();
  const double out_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(far_received == outbound, true);
  std::printf("serial throughput: in %zu bytes in %.2f s (%.0f KB/s), out %.2f s (%.0f KB/s)\n",
              size, in_s, size / in_s / 1024, out_s, size / out_s / 1024);
  ops.close_serial(handle);
}

}  // namespace
}  // namespace vek_native
