// The win32 device-control layer for real under Wine, against the ZELACPI
// stand-in (tests/wine/drivers): CreateFileW on \\.\ZELACPI and
// DeviceIoControl with METHOD_BUFFERED byte counts, including what the driver
// does with inputs that are not the installer's layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hardware/device_io.h"
#include "tests/wine/test_drivers.h"

namespace {

namespace io = hardware::device_io;
namespace drivers = winetest::drivers;

constexpr char kPath[] = "\\\\.\\ZELACPI";

std::vector<uint8_t> le32(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> out;
  for (uint32_t v : values)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

uint32_t read32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// DSTS(0x0006005B) with its one integer inline.
std::vector<uint8_t> dstsInput() {
  std::vector<uint8_t> in = le32({2, 0x53545344, 1, 8});
  const std::vector<uint8_t> argument = {0, 0, 4, 0, 0x5B, 0x00, 0x06, 0x00};
  in.insert(in.end(), argument.begin(), argument.end());
  return in;
}

TEST(Win32DeviceIoWithoutDriver, OpeningTheMissingPlatformDeviceFailsWithFileNotFound) {
  winetest::requireNoAcpi();
  uint32_t error = 0;
  io::Device device = io::open(kPath, io::kAccessReadWrite, io::kShareReadWrite, error);
  EXPECT_FALSE(device.valid());
  EXPECT_EQ(error, 2u);
}

class Win32DeviceIo : public ::testing::Test {
 protected:
  void SetUp() override {
    winetest::requireAcpi();
    if (HasFatalFailure()) return;
    uint32_t error = 0;
    device_ = io::open(kPath, io::kAccessReadWrite, io::kShareReadWrite, error);
    ASSERT_TRUE(device_.valid()) << "error " << error;
  }

  bool call(uint32_t code, const std::vector<uint8_t>& in, uint32_t outSize) {
    output_.assign(outSize + 16, 0xAB);
    return io::control(device_, code, in.data(), static_cast<uint32_t>(in.size()), output_.data(), outSize,
                       returned_, error_);
  }

  io::Device device_;
  std::vector<uint8_t> output_;
  uint32_t returned_ = 0;
  uint32_t error_ = 0;
};

TEST_F(Win32DeviceIo, AnAcpiCallCarriesItsBytesBothWays) {
  ASSERT_TRUE(call(OVVB_ACPI_CODE_METHOD, dstsInput(), 768)) << error_;
  EXPECT_EQ(returned_, 20u);
  EXPECT_EQ(read32(&output_[0]), OVVB_ACPI_OUTPUT_SIGNATURE);
  EXPECT_EQ(read32(&output_[8]), 1u);
  EXPECT_EQ(read32(&output_[16]), OVVB_ACPI_DSTS_DEFAULT);
  EXPECT_EQ(output_[768], 0xAB) << "nothing written past the output size";

  const std::vector<drivers::ControlRecord> calls = winetest::acpiCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].code, OVVB_ACPI_CODE_METHOD);
  EXPECT_EQ(calls[0].input, dstsInput());
  EXPECT_EQ(calls[0].outputSize, 768u);
  EXPECT_EQ(calls[0].status, 0u);
}

TEST_F(Win32DeviceIo, MalformedInputsFailWithInvalidParameterAndTheDriverStaysUp) {
  struct Case {
    const char* what;
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t error;
  };
  std::vector<uint8_t> shortInput = dstsInput();
  shortInput.resize(20);
  std::vector<uint8_t> badArgument = dstsInput();
  badArgument[18] = 8;  // an argument length that is not the integer's
  const Case cases[] = {
      {"an ACPI input shorter than its layout", OVVB_ACPI_CODE_METHOD, shortInput, 87},
      {"an inline argument with a lying length", OVVB_ACPI_CODE_METHOD, badArgument, 87},
      {"a request kind of neither layout", OVVB_ACPI_CODE_METHOD, le32({3, 0x53545344, 0, 0, 0, 0}), 87},
      {"the address layout with an address", OVVB_ACPI_CODE_METHOD, le32({1, 0x53545344, 0, 0, 0x1000, 0}),
       87},
      {"a WMI size that lies", OVVB_ACPI_CODE_WMI, le32({0x53564544, 100, 0x0006005B, 4}), 87},
      {"a WMI input shorter than its header", OVVB_ACPI_CODE_WMI, {0x44, 0x45}, 87},
      {"an empty input", OVVB_ACPI_CODE_METHOD, {}, 87},
      {"an unknown control code", 0x00222408, dstsInput(), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(call(c.code, c.input, 768));
    EXPECT_EQ(error_, c.error);
    EXPECT_EQ(returned_, 0u);
  }
  EXPECT_TRUE(call(OVVB_ACPI_CODE_METHOD, dstsInput(), 768)) << "still answering";
  EXPECT_EQ(winetest::acpiCalls().size(), std::size(cases) + 1);
}

TEST_F(Win32DeviceIo, AReplyLongerThanTheOutputIsCutAtIt) {
  drivers::State state(OVVB_ACPI_SERVICE);
  state.setBinary(OVVB_ACPI_WMI_RAW, std::vector<uint8_t>(1024, 0x5A));
  EXPECT_FALSE(call(OVVB_ACPI_CODE_WMI, le32({0x53564544, 8, 0x0006005B, 4}), 16));
  EXPECT_EQ(error_, 234u) << "ERROR_MORE_DATA";
  EXPECT_EQ(returned_, 16u);
  EXPECT_EQ(output_[15], 0x5A);
  EXPECT_EQ(output_[16], 0xAB);
}

}  // namespace
