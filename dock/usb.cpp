#include "dock/usb.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/error.h"

namespace hid = hardware::hid;

namespace {

// A feature report needs its report ID and at least one byte after it; a
// device that claims 0 or 1 has no report the transport could exchange.
constexpr uint16_t kMinFeatureReportLength = 2;

bool usableFeatureLength(uint16_t length) { return length >= kMinFeatureReportLength; }

}  // namespace

const char USB::kReaderNotStarted[] = "readThread == NULL";
const char USB::kReaderStarted[] = "readThread != NULL";

USB::ExceptionForLog& USB::ExceptionForLog::e(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return *this;
}

USB::~USB() { Release(); }

bool USB::WriteLogMessage(const char* format, ...) {
  char buffer[4096];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  std::memcpy(lastLogMessage, buffer, sizeof lastLogMessage);
  return true;
}

bool USB::FindUSBDeviceList(std::vector<std::string>& devicelist) {
  const hid::InterfaceClass interfaceClass = hid::hidInterfaceClass();
  const hid::InterfaceSet set = hid::openPresentInterfaces(interfaceClass);
  if (!set.valid()) return false;
  for (uint32_t index = 0;; ++index) {
    std::string path;
    const hid::InterfaceStep step = hid::interfacePath(set, interfaceClass, index, false, path);
    if (step == hid::InterfaceStep::End) return true;
    if (step == hid::InterfaceStep::OutOfMemory) return false;
    if (step == hid::InterfaceStep::NoDetail) continue;
    uint32_t error = 0;
    const hid::Device probe = hid::open(path, hid::kAccessNone, hid::kShareReadWrite, error);
    if (!probe.valid()) continue;
    devicelist.push_back(path);
  }
}

bool USB::OpenDevice(std::string devicepath, hid::Window DisplayWindow) {
  // The reader works on the handle about to be closed: it goes first.
  stopReader();
  deviceHandle.reset();

  uint32_t error = 0;
  hid::Device probe = hid::open(devicepath, hid::kAccessNone, hid::kShareReadWrite, error);
  if (!probe.valid()) return false;
  if (!hid::getAttributes(probe, deviceAttributes)) return false;
  if (hid::getCapabilities(probe, capabilities) != hid::CapsResult::Ok) return false;
  probe.reset();

  deviceHandle = hid::open(devicepath, hid::kAccessReadWrite, hid::kShareReadWrite, error);
  if (DisplayWindow != nullptr && deviceHandle.valid()) {
    startReader(DisplayWindow);
    hid::postMessage(DisplayWindow, kReportMessage, 0,
                     reinterpret_cast<intptr_t>(readThread.joinable() ? kReaderStarted : kReaderNotStarted));
  }
  if (deviceHandle.valid()) {
    GetDeviceCapabilities();
    hid::setNumInputBuffers(deviceHandle, kInputBufferCount);
  }
  return true;
}

void USB::GetDeviceCapabilities() {
  hid::Capabilities read;
  const hid::CapsResult result = hid::getCapabilities(deviceHandle, read);
  if (result == hid::CapsResult::NoPreparsedData) {
    WriteLogMessage("HidD_GetPreparsedData FAIL.");
    return;
  }
  if (result == hid::CapsResult::Ok) capabilities = read;
}

bool USB::sizedExchange(const uint8_t* Send, int32_t SendSize, uint8_t* Recv, int32_t RecvSize) {
  const uint16_t length = capabilities.featureReportByteLength;
  bool ok = true;
  try {
    if (!usableFeatureLength(length)) throw exceptionForLog.e("Feature report length %d unusable.", length);
    featureSendBuffer = std::make_unique<uint8_t[]>(length);
    std::memset(featureSendBuffer.get(), 0xFF, length);
    const int32_t copied = std::clamp<int32_t>(SendSize, 0, length);
    if (Send != nullptr) std::memcpy(featureSendBuffer.get(), Send, static_cast<size_t>(copied));
    uint32_t error = 0;
    if (!hid::setFeature(deviceHandle, featureSendBuffer.get(), length, error)) {
      throw exceptionForLog.e("Can not communication with KB. LastError:%d(Set)", static_cast<int>(error));
    }
    if (Recv != nullptr && RecvSize > 0) {
      featureRecvBuffer.reset();
      const size_t size = static_cast<size_t>(RecvSize) + 2;
      featureRecvBuffer = std::make_unique<uint8_t[]>(size);  // zeroed
      featureRecvBuffer[0] = kFeatureReportId;
      if (!hid::getFeature(deviceHandle, featureRecvBuffer.get(), static_cast<uint32_t>(RecvSize), error)) {
        throw exceptionForLog.e("Can not communication with KB. LastError:%d(Get)", static_cast<int>(error));
      }
      std::memcpy(Recv, featureRecvBuffer.get(), static_cast<size_t>(RecvSize));
    }
  } catch (const ExceptionForLog& raised) {
    WriteLogMessage("%s", raised.text);
    ok = false;
  }
  featureSendBuffer.reset();
  featureRecvBuffer.reset();
  return ok;
}

bool USB::SendUSBReport(const uint8_t* Send, int32_t SendSize, uint8_t* Recv, int32_t RecvSize) {
  return sizedExchange(Send, SendSize, Recv, RecvSize);
}

bool USB::SendUSBReportFillFF(const uint8_t* Send, int32_t SendSize, uint8_t* Recv, int32_t RecvSize) {
  return sizedExchange(Send, SendSize, Recv, RecvSize);
}

bool USB::fixedExchange(const uint8_t* Send, uint8_t reportId, uint8_t* Recv) {
  const uint16_t length = capabilities.featureReportByteLength;
  // The staging buffers hold 300 bytes: a longer report cannot be staged.
  if (!usableFeatureLength(length) || length > kStagingSize) {
    WriteLogMessage("Feature report length %d unusable.", length);
    return false;
  }
  std::memset(outputStaging, 0, sizeof outputStaging);
  std::memset(inputStaging, 0, sizeof inputStaging);
  std::memcpy(outputStaging, Send, sizeof outputStaging);
  uint32_t error = 0;
  if (!hid::setFeature(deviceHandle, outputStaging, length, error)) {
    WriteLogMessage("Can not communication with KB. LastError:(Set)%u", error);
    return false;
  }
  if (Recv != nullptr) {
    inputStaging[0] = reportId;
    if (!hid::getFeature(deviceHandle, inputStaging, length, error)) {
      WriteLogMessage("Can not communication with KB. LastError:(Get)%u", error);
      return false;
    }
    std::memcpy(Recv, inputStaging, sizeof inputStaging);
  }
  return true;
}

bool USB::SendUSBReport(const uint8_t* Send, uint16_t ReportID, uint8_t* Recv) {
  return fixedExchange(Send, static_cast<uint8_t>(ReportID & 0xFF), Recv);
}

bool USB::SendUSBReport_light(const uint8_t* Send, uint8_t* Recv) {
  return fixedExchange(Send, kFeatureReportId, Recv);
}

bool USB::SendUSBData(const uint8_t* Send, uint8_t* Recv, bool hasRecv, bool ReFalse) {
  const uint16_t outputLength = capabilities.outputReportByteLength;
  const uint16_t inputLength = capabilities.inputReportByteLength;
  if (outputLength == 0 || outputLength > kStagingSize ||
      (hasRecv && (inputLength == 0 || inputLength > kStagingSize))) {
    WriteLogMessage("Report length %d/%d unusable.", outputLength, inputLength);
    return false;
  }
  std::memset(outputStaging, 0, sizeof outputStaging);
  std::memset(inputStaging, 0, sizeof inputStaging);
  std::memcpy(outputStaging, Send, sizeof outputStaging);
  uint32_t error = 0;
  if (!hid::writeReport(deviceHandle, outputStaging, outputLength, bytesWritten, error)) {
    WriteLogMessage("Can not communication with KB. LastError:%u", error);
    return false;
  }
  if (!hasRecv) return true;
  if (!hid::readReport(deviceHandle, inputStaging, inputLength, bytesRead, error)) {
    WriteLogMessage("Can not communication with KB. LastError:%u", error);
    return false;
  }
  if (inputStaging[1] == 0xFF && inputStaging[2] == 0xAA && !ReFalse) {
    WriteLogMessage("Command Return Fail.");
    return false;
  }
  if (Recv != nullptr) std::memcpy(Recv, inputStaging, sizeof inputStaging);
  return true;
}

bool USB::ReadUSBData(uint8_t* Recv) {
  std::memset(inputStaging, 0, sizeof inputStaging);
  const uint16_t inputLength = capabilities.inputReportByteLength;
  uint32_t error = 0;
  bool ok = false;
  if (inputLength == 0 || inputLength > kStagingSize) {
    error = platform::kErrorInvalidParameter;  // no report fits the staging buffer
  } else {
    ok = hid::readReport(deviceHandle, inputStaging, inputLength, bytesRead, error);
  }
  if (!ok) {
    WriteLogMessage("Can not communication with KB.LastError:(Get)%u", error);
    for (int i = 0; i < 4; ++i) inputStaging[i] = static_cast<uint8_t>(error >> (8 * i));
  }
  std::memcpy(Recv, inputStaging, sizeof inputStaging);
  return ok;
}

void USB::SetWantedDevice(uint16_t vendorId, uint16_t productId) {
  wantedVendorId = vendorId;
  wantedProductId = productId;
  matchByUsage = false;
}

void USB::SetWantedUsage(uint16_t vendorId, uint16_t productId, uint16_t usage, uint16_t usagePage) {
  wantedVendorId = vendorId;
  wantedProductId = productId;
  wantedUsage = usage;
  wantedUsagePage = usagePage;
  matchByUsage = true;
}

bool USB::FindUSBDevice() {
  found = false;
  stopReader();
  hidInterfaceClass = hid::hidInterfaceClass();
  deviceInfoSet = hid::openPresentInterfaces(hidInterfaceClass);
  if (!deviceInfoSet.valid()) return false;
  for (uint32_t index = 0; !found; ++index) {
    std::string path;
    const hid::InterfaceStep step = hid::interfacePath(deviceInfoSet, hidInterfaceClass, index, true, path);
    if (step == hid::InterfaceStep::End) break;
    if (step == hid::InterfaceStep::OutOfMemory) {
      deviceInfoSet.reset();
      return false;
    }
    if (step == hid::InterfaceStep::NoDetail) continue;
    uint32_t error = 0;
    deviceHandle = hid::open(path, hid::kAccessReadWrite, hid::kShareReadWrite, error);
    if (!deviceHandle.valid()) continue;
    if (!hid::getAttributes(deviceHandle, deviceAttributes)) {
      deviceHandle.reset();
      continue;
    }
    GetDeviceCapabilities();
    const bool identity =
        deviceAttributes.vendorId == wantedVendorId && deviceAttributes.productId == wantedProductId;
    if (identity && path.find("mi_01") != std::string::npos && !matchByUsage) {
      found = true;
      hid::setNumInputBuffers(deviceHandle, kInputBufferCount);
      GetDeviceCapabilities();
    } else if (identity && capabilities.usage == wantedUsage && capabilities.usagePage == wantedUsagePage &&
               matchByUsage) {
      matchedInputReportLength = capabilities.inputReportByteLength;
      matchedOutputReportLength = capabilities.outputReportByteLength;
      found = true;
      hid::setNumInputBuffers(deviceHandle, kInputBufferCount);
    } else {
      deviceHandle.reset();
    }
  }
  deviceInfoSet.reset();
  return found;
}

bool USB::SetDisplayWindow(hid::Window DisplayWindow) {
  stopReader();
  if (DisplayWindow != nullptr && deviceHandle.valid()) startReader(DisplayWindow);
  return true;
}

void USB::Release() {
  stopReader();
  deviceHandle.reset();
}

void USB::startReader(hid::Window window) {
  readerContext.device = &deviceHandle;
  readerContext.notifyWindow = window;
  readerContext.reserved = 0;
  readerContext.stop = 0;
  readerContext.inputReportLength = capabilities.inputReportByteLength;
  // The reader's buffer holds 64 bytes: a device with longer (or no) input
  // reports gets no reader rather than a read past it.
  if (readerContext.inputReportLength <= 0 || readerContext.inputReportLength > kReaderReportSize) return;
  readerRunning_ = true;
  try {
    readThread = std::thread([this] {
      ReadThreadProc(&readerContext);
      readerRunning_ = false;
    });
  } catch (const std::system_error&) {
    readerRunning_ = false;
  }
}

// The reader blocks in a synchronous read and sees the stop flag only
// between reports, so a silent device would keep it (and this wait) forever.
// Cancelling the pending read ends it at once; it is repeated until the
// thread is gone, since a read that starts just after a cancel is not
// affected by it.
void USB::stopReader() {
  readerContext.stop = 1;
  if (!readThread.joinable()) return;
  while (readerRunning_) {
    hid::cancelReads(deviceHandle);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  readThread.join();
}

uint32_t USB::ReadThreadProc(ReaderContext* context) {
  while (true) {
    std::memset(context->report, 0, sizeof context->report);
    uint32_t read = 0;
    uint32_t error = 0;
    const uint32_t length =
        static_cast<uint32_t>(std::clamp(context->inputReportLength, 0, kReaderReportSize));
    if (!hid::readReport(*context->device, context->report, length, read, error)) return 0;
    if (context->stop != 0) return 0;
    if (context->notifyWindow != nullptr) {
      hid::sendMessage(context->notifyWindow, kReportMessage, 0, reinterpret_cast<intptr_t>(context));
    }
    if (context->stop != 0) return 0;
  }
}
