// The Linux port list, read off a made-up sysfs laid out as the kernel lays out the real one.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial_ports.h"

namespace {

namespace fs = std::filesystem;

class MadeUpMachine {
  public:
    MadeUpMachine()
        : root_(fs::temp_directory_path() / ("lumo-ports-" + std::to_string(getpid()))) {
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev/serial/by-id");
    }
    ~MadeUpMachine() { fs::remove_all(root_); }
    std::string root() const { return root_.string(); }

    // A tty whose device is `device` under sys/devices, with the given attributes there.
    void tty(const std::string& name, const std::string& device) {
        fs::create_directories(root_ / "sys/devices" / device);
        fs::create_directories(root_ / "sys/class/tty" / name);
        fs::create_symlink(root_ / "sys/devices" / device,
                           root_ / "sys/class/tty" / name / "device");
    }
    void file(const std::string& path, const std::string& text) {
        fs::create_directories((root_ / path).parent_path());
        std::ofstream(root_ / path) << text << "\n";
    }
    // A USB device under usb1/: its ids, maker and product as the chip reports them.
    void usbDevice(const std::string& device, const char* vendor, const char* product,
                   const char* maker, const char* title) {
        std::string at = "sys/devices/pci0000:00/usb1/" + device + "/";
        file(at + "idVendor", vendor);
        file(at + "idProduct", product);
        if (*maker)
            file(at + "manufacturer", maker);
        if (*title)
            file(at + "product", title);
    }

  private:
    fs::path root_;
};

TEST(SerialPorts, UsbAdaptersComeFirstNamedByChipOrMakerWithTheirStablePath) {
    MadeUpMachine machine;
    // A CH340 adapter (usb-serial: port, interface, device) with its by-id link.
    machine.usbDevice("1-1", "1a86", "7523", "", "USB Serial");
    machine.tty("ttyUSB0", "pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
    fs::create_symlink("../../ttyUSB0",
                       machine.root() + "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    // An adapter nobody listed, numbered above ten.
    machine.usbDevice("1-2", "1234", "5678", "Acme", "Widget");
    machine.tty("ttyUSB10", "pci0000:00/usb1/1-2/1-2:1.0/ttyUSB10");
    machine.usbDevice("1-3", "0403", "6001", "FTDI", "FT232R USB UART");
    machine.tty("ttyUSB2", "pci0000:00/usb1/1-3/1-3:1.0/ttyUSB2");
    // An Arduino's own USB (CDC ACM: the interface is the tty's device).
    machine.usbDevice("1-4", "2341", "0043", "Arduino (www.arduino.cc)", "");
    machine.tty("ttyACM0", "pci0000:00/usb1/1-4/1-4:1.0");
    // The machine's own UART, a port reserved with no UART behind it, and a console.
    machine.tty("ttyS0", "pnp0/00:04");
    machine.file("sys/class/tty/ttyS0/type", "4");
    machine.tty("ttyS1", "platform/serial8250");
    machine.file("sys/class/tty/ttyS1/type", "0");
    fs::create_directories(machine.root() + "/sys/class/tty/tty0");

    EXPECT_EQ(serialPortLines(machine.root()),
              (std::vector<std::string>{
                  "/dev/ttyACM0 - USB serial port (2341:0043 Arduino)",
                  "/dev/ttyUSB0 - USB Serial (1a86:7523 QinHeng CH340), also "
                  "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0",
                  "/dev/ttyUSB2 - FT232R USB UART (0403:6001 FTDI FT232R)",
                  "/dev/ttyUSB10 - Widget (1234:5678 Acme)",
                  "/dev/ttyS0",
              }));
}

// The group a refused user is told to join: only one whose members may read and write the node.
TEST(SerialPorts, TheDevicesGroupIsNamedOnlyWhenItMayUseTheDevice) {
    group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr) << "this machine has no group dialout";
    MadeUpMachine machine;
    std::string node = machine.root() + "/ttyUSB0";
    machine.file("ttyUSB0", "");
    const struct {
        gid_t group;
        mode_t mode;
        const char* told;
    } cases[] = {
        {dialout->gr_gid, 0660, "dialout"}, // as udev makes a USB adapter's node
        {dialout->gr_gid, 0640, ""},        // the group may not write to it
        {0, 0660, ""},                      // nobody is told to join root
    };
    for (const auto& c : cases) {
        ASSERT_EQ(chown(node.c_str(), (uid_t)-1, c.group), 0);
        ASSERT_EQ(chmod(node.c_str(), c.mode), 0);
        EXPECT_EQ(deviceGroup(node), c.told)
            << "group " << c.group << " mode " << std::oct << c.mode;
    }
    EXPECT_EQ(deviceGroup(machine.root() + "/missing"), "");
}

} // namespace
