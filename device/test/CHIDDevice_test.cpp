#include "CHIDDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "hid_testbed.h"

namespace {
int init_calls = 0;
int exit_calls = 0;
}  // namespace

extern "C" {
int __real_hid_init(void);
int __real_hid_exit(void);
int __wrap_hid_init(void) {
    ++init_calls;
    return __real_hid_init();
}
int __wrap_hid_exit(void) {
    ++exit_calls;
    return __real_hid_exit();
}
}

namespace {

constexpr uint16_t kVendor = 0x1209;

class CHIDDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bed = new testbed::Testbed();
        testbed::DeviceConfig config;
        config.vendor_id = kVendor;
        config.product_id = 0x0001;
        config.manufacturer = "Orvanta Labs";
        config.product = "Echo";
        config.echo = true;
        echo = &bed->add(config);
        config.product_id = 0x0002;
        config.product = "Silent \u00e9 \u4e2d \U0001F600";
        config.echo = false;
        silent = &bed->add(config);
    }
    static void TearDownTestSuite() {
        delete bed;
        bed = nullptr;
    }
    void SetUp() override {
        init_calls = 0;
        exit_calls = 0;
    }

    static testbed::Testbed *bed;
    static testbed::Device *echo;
    static testbed::Device *silent;
};
testbed::Testbed *CHIDDeviceTest::bed = nullptr;
testbed::Device *CHIDDeviceTest::echo = nullptr;
testbed::Device *CHIDDeviceTest::silent = nullptr;

// First in this process: its read runs the once-a-process probe of the wake,
// which must not take the read's own wake away.
TEST_F(CHIDDeviceTest, AWakeEndsTheFirstReadWithoutLimit) {
    CHIDDevice device;
    ASSERT_NE(nullptr, device.open_device(silent->path().c_str()));
    unsigned char report[8];
    auto reading = std::async(std::launch::async, [&] { return device.read_timeout(report, sizeof report, -1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    device.wake();
    const bool woken = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!woken) {
        silent->push_input({1});  // ends the read: a failure, not a hang
    }
    const int received = reading.get();
    EXPECT_TRUE(woken);
    EXPECT_EQ(0, received);
}

TEST_F(CHIDDeviceTest, AFailedOpenKeepsTheSystemsErrorNumber) {
    CHIDDevice device;
    // not UTF-8: hidapi's decoding of its failure text would set EILSEQ
    EXPECT_EQ(nullptr, device.open_device("/dev/no-such-node-\xed\xa0\x80"));
    EXPECT_EQ(ENOENT, device.error_number());
}

TEST_F(CHIDDeviceTest, FirstObjectInitialisesHidapiAndLastFinalisesIt) {
    auto first = std::make_unique<CHIDDevice>();
    EXPECT_EQ(1, init_calls);
    EXPECT_EQ(1, first->getRefCount());
    auto second = std::make_unique<CHIDDevice>();
    EXPECT_EQ(1, init_calls);
    EXPECT_EQ(2, second->getRefCount());

    first.reset();
    EXPECT_EQ(0, exit_calls);
    EXPECT_EQ(1, second->getRefCount());
    ASSERT_NE(nullptr, second->open_device(echo->path().c_str()));  // hidapi still up

    second.reset();
    EXPECT_EQ(1, exit_calls);
    CHIDDevice third;
    EXPECT_EQ(2, init_calls);
    EXPECT_EQ(1, third.getRefCount());
}

TEST_F(CHIDDeviceTest, OpenByIdsUsesTheLowSixteenBits) {
    CHIDDevice device;
    EXPECT_EQ(nullptr, device.open_device(0, 0));
    ASSERT_NE(nullptr, device.open_device(kVendor | 0x10000, 0x0002 | 0x7fff0000));
    const std::vector<uint8_t> report{0, 0xAB, 0xCD};
    ASSERT_EQ(3, device.write(report.data(), report.size()));
    EXPECT_EQ(report, silent->pop_output(2000));
    ASSERT_NE(nullptr, device.open_device(static_cast<int>(kVendor) - 0x10000, 0x0001));
}

TEST_F(CHIDDeviceTest, OpeningClosesFirstAndAFailedOpenLeavesItClosed) {
    CHIDDevice device;
    const unsigned char report[] = {0, 1, 2};
    unsigned char in[8] = {};
    EXPECT_EQ(-1, device.write(report, sizeof report));  // nothing open yet
    EXPECT_EQ(-1, device.read(in, sizeof in));

    ASSERT_NE(nullptr, device.open_device(echo->path().c_str()));
    ASSERT_NE(nullptr, device.open_device(silent->path().c_str()));
    ASSERT_EQ(3, device.write(report, sizeof report));
    EXPECT_TRUE(silent->pop_output(2000).has_value());
    EXPECT_EQ(0u, echo->pending_outputs());

    EXPECT_EQ(nullptr, device.open_device("/dev/hidraw-missing"));
    EXPECT_EQ(-1, device.write(report, sizeof report));
    // paths that open but are no hidraw node must fail, not crash hidapi
    for (const char *not_hidraw : {"/dev/null", "/proc/self/status", "/"}) {
        ASSERT_NE(nullptr, device.open_device(echo->path().c_str()));
        EXPECT_EQ(nullptr, device.open_device(not_hidraw)) << not_hidraw;
        EXPECT_EQ(-1, device.write(report, sizeof report));
    }
    device.close_device();
    device.close_device();
}

TEST_F(CHIDDeviceTest, ReadAndWriteMoveExactBytes) {
    CHIDDevice device;
    ASSERT_NE(nullptr, device.open_device(echo->path().c_str()));
    std::vector<uint8_t> out(65);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<uint8_t>(i * 3);
    }
    out[0] = 0;
    ASSERT_EQ(65, device.write(out.data(), out.size()));
    EXPECT_EQ(out, echo->pop_output(2000));
    std::vector<uint8_t> in(64);
    ASSERT_EQ(64, device.read(in.data(), in.size()));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.end()), in);  // report ID 0 dropped

    ASSERT_EQ(testbed::Device::kOk, echo->push_input({7, 8, 9}));
    std::vector<uint8_t> shorter(64, 0xEE);
    ASSERT_EQ(3, device.read(shorter.data(), shorter.size()));
    EXPECT_EQ(7, shorter[0]);
    EXPECT_EQ(9, shorter[2]);
}

TEST_F(CHIDDeviceTest, EnumerationListsMatchingDevicesAndFreesAnyList) {
    CHIDDevice device;
    device.free_enumerations(nullptr);
    hid_device_info *all = device.enumerate_devices(0, 0);
    int count = 0;
    for (hid_device_info *d = all; d != nullptr; d = d->next) {
        ++count;
    }
    EXPECT_EQ(2, count);
    device.free_enumerations(all);

    hid_device_info *one = device.enumerate_devices(kVendor + 0x10000, 0x0002);
    ASSERT_NE(nullptr, one);
    EXPECT_EQ(nullptr, one->next);
    EXPECT_EQ(silent->path(), one->path);
    // the test runs in the C locale, where hidapi alone would decode nothing
    EXPECT_STREQ(L"Silent \u00e9 \u4e2d \U0001F600", one->product_string);
    device.free_enumerations(one);
    EXPECT_EQ(nullptr, device.enumerate_devices(kVendor, 0x0999));
}

}  // namespace
