// Runs the installed example against an emulated device: this process owns
// the testbed; the example, a child, inherits the preload and $UMOCKDEV_DIR
// and so sees the device through its own hidapi. Usage: example_harness EXE
#include <hid_testbed.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s EXAMPLE\n", argv[0]);
        return 2;
    }
    testbed::Testbed bed;
    testbed::DeviceConfig other;
    other.vendor_id = 0x1209;
    other.product_id = 0x0002;
    other.product = "Keypad";
    bed.add(other);
    testbed::DeviceConfig config;
    config.vendor_id = 0x1209;
    config.product_id = 0xec41;
    config.manufacturer = "Orvanta Labs";
    config.product = "Example Echo";
    config.serial = "EX-1";
    testbed::Device &device = bed.add(config);

    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        execl(argv[1], argv[1], device.path().c_str(), "1209:ec41", static_cast<char *>(nullptr));
        std::perror("execl");
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        std::perror("fork/waitpid");
        return 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "example failed (status %d)\n", status);
        return 1;
    }
    // one report through CHIDDevice, one through hidapi, each byte as sent
    const std::vector<std::uint8_t> expected = {0x00, 'p', 'o', 'r', 't'};
    for (const char *way : {"CHIDDevice", "hidapi"}) {
        auto report = device.pop_output(2000);
        if (!report || *report != expected) {
            std::fprintf(stderr, "the device did not get the report written through %s\n", way);
            return 1;
        }
    }
    if (device.pending_outputs() != 0) {
        std::fprintf(stderr, "the device got more reports than written\n");
        return 1;
    }
    std::printf("device %s got both reports\n", device.path().c_str());
    return 0;
}
