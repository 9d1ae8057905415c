// USB: the HID transport to one HID device interface, through the Windows
// HID class driver (hardware/hid.h). The dock controller client uses the
// device list, OpenDevice without a window and the sized feature-report
// exchange; the rest completes the transport for other HID devices.
//
// Failures are reported through the result (false). Diagnostic texts go to
// WriteLogMessage, which formats them and keeps the last one in
// `lastLogMessage`; they reach no file and no stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hardware/hid.h"

class USB {
 public:
  static constexpr int kStagingSize = 300;            // the fixed-size exchanges' report buffers
  static constexpr int kReaderReportSize = 64;        // the reader thread's report buffer
  static constexpr uint32_t kReportMessage = 0x0401;  // WM_USER + 1
  static constexpr uint32_t kInputBufferCount = 300;
  static constexpr uint8_t kFeatureReportId = 0x5E;  // every sized exchange fetches this report

  // What OpenDevice posts to its window: lParam points to one of these two
  // texts. The reader thread's messages carry the reader context instead,
  // so a window tells them apart by comparing lParam with these addresses.
  static const char kReaderNotStarted[];  // "readThread == NULL"
  static const char kReaderStarted[];     // "readThread != NULL"

  // The record the reader thread works on, and the lParam of its messages.
  struct ReaderContext {
    const hardware::hid::Device* device = nullptr;  // the transport's handle, not a second owner
    hardware::hid::Window notifyWindow = nullptr;
    intptr_t reserved = 0;
    std::atomic<int32_t> stop{0};  // 1: the thread is to end
    int32_t inputReportLength = 0;
    uint8_t report[kReaderReportSize] = {};
  };

  // The failure message of the sized exchanges, raised and caught inside
  // them only.
  struct ExceptionForLog {
    char text[4096] = {};
    ExceptionForLog& e(const char* format, ...);
  };

  USB() = default;
  ~USB();  // Release
  USB(const USB&) = delete;
  USB& operator=(const USB&) = delete;

  // Appends the path of every present HID interface that opens without
  // access rights, in enumeration order. False: no device information set,
  // or out of memory.
  static bool FindUSBDeviceList(std::vector<std::string>& devicelist);

  // Closes any open device, then opens `devicepath` (UTF-8): attributes,
  // capabilities, the read/write handle, and a reader thread for
  // `DisplayWindow` when it is not null. True also when only the read/write
  // open failed; every exchange then fails.
  bool OpenDevice(std::string devicepath, hardware::hid::Window DisplayWindow);
  void GetDeviceCapabilities();

  // Sends SendSize bytes of Send (report ID first) as one feature report of
  // the device's length, 0xFF after them, and fetches report 0x5E into the
  // RecvSize bytes of Recv when Recv is given and RecvSize > 0.
  bool SendUSBReport(const uint8_t* Send, int32_t SendSize, uint8_t* Recv, int32_t RecvSize);
  // The same; kept for callers that fill the report themselves. Its copy is
  // bounded by the report length as well.
  bool SendUSBReportFillFF(const uint8_t* Send, int32_t SendSize, uint8_t* Recv, int32_t RecvSize);

  // Fixed-size exchanges of 300-byte buffers; the device's feature report
  // length must be 2 to 300.
  bool SendUSBReport(const uint8_t* Send, uint16_t ReportID, uint8_t* Recv);
  bool SendUSBReport_light(const uint8_t* Send, uint8_t* Recv);

  // Output report out, optionally an input report back (300-byte buffers).
  bool SendUSBData(const uint8_t* Send, uint8_t* Recv, bool hasRecv, bool ReFalse);
  // One input report into the 300 bytes of Recv; on failure Recv holds the
  // system error code little-endian in bytes 0 to 3, zeros after them.
  bool ReadUSBData(uint8_t* Recv);

  // Search by identity; the targets start at 0 and are set with the two
  // setters below (the path rule, or the usage rule).
  bool FindUSBDevice();
  void SetWantedDevice(uint16_t vendorId, uint16_t productId);
  void SetWantedUsage(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage);

  // Replaces the reader thread: the old one is stopped, a new one started
  // for `DisplayWindow` when it is not null and a device is open.
  bool SetDisplayWindow(hardware::hid::Window DisplayWindow);
  void Release();

  bool WriteLogMessage(const char* format, ...);
  static uint32_t ReadThreadProc(ReaderContext* context);

  // Fields, in the order the transport was designed with.
  hardware::hid::Attributes deviceAttributes;
  hardware::hid::Capabilities capabilities;
  hardware::hid::Device deviceHandle;
  ReaderContext readerContext;
  std::thread readThread;
  uint8_t outputStaging[kStagingSize] = {};
  uint8_t inputStaging[kStagingSize] = {};
  hardware::hid::InterfaceClass hidInterfaceClass;
  hardware::hid::InterfaceSet deviceInfoSet;
  uint16_t wantedVendorId = 0;
  uint16_t wantedProductId = 0;
  bool found = false;
  uint32_t bytesWritten = 0;
  uint32_t bytesRead = 0;
  bool matchByUsage = false;
  uint16_t matchedInputReportLength = 0;
  uint16_t matchedOutputReportLength = 0;
  ExceptionForLog exceptionForLog;
  uint16_t wantedUsage = 0;
  uint16_t wantedUsagePage = 0;
  std::unique_ptr<uint8_t[]> featureSendBuffer;
  std::unique_ptr<uint8_t[]> featureRecvBuffer;
  char lastLogMessage[4096] = {};

 private:
  bool sizedExchange(const uint8_t* Send, int32_t SendSize, uint8_t* Recv, int32_t RecvSize);
  bool fixedExchange(const uint8_t* Send, uint8_t reportId, uint8_t* Recv);
  void startReader(hardware::hid::Window window);
  void stopReader();
  std::atomic<bool> readerRunning_{false};
};
