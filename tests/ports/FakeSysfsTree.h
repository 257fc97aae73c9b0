#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "ports/PortListing.h"
#include "support/TempDir.h"

namespace tarvik::test {

// A sysfs and a /dev of our own, laid out as the kernel lays them out: class and bus entries,
// each device's `driver` and each tty's `device` are relative links into devices/ and bus/,
// so the listing has to follow them as it would on a machine.
class FakeSysfsTree {
    using Path = std::filesystem::path;
    using Text = const std::string&;  // names, texts and paths under sys or dev

public:
    FakeSysfsTree() { std::filesystem::create_directories(Sys()); }

    Path Sys() const { return m_dir.Path() / "sys"; }
    Path Dev() const { return m_dir.Path() / "dev"; }
    ports::ListingRoots Roots() const { return {Sys(), Dev()}; }

    // A file under sys, its folders created.
    void Attribute(Text at, Text text) const { std::ofstream(Made(Sys() / at)) << text << "\n"; }

    // A relative link at `from` to `to`, both under sys, as the kernel's are; one there is kept.
    void Link(Text from, Text to) const {
        const Path at = Made(Sys() / from);
        if (!std::filesystem::is_symlink(at)) {
            std::filesystem::create_symlink((Sys() / to).lexically_relative(at.parent_path()), at);
        }
    }

    // A tty at devices/<parent>/tty/<name>, its `device` link to devices/<parent> (none when
    // `parent` names a virtual folder), and class/tty/<name>.
    void Tty(Text name, Text parent, bool withDevice = true) const {
        const std::string at = "devices/" + parent + "/tty/" + name;
        Attribute(at + "/dev", "4:64");
        if (withDevice) {
            Link(at + "/device", "devices/" + parent);
        }
        Link("class/tty/" + name, at);
    }

    // A HID device at devices/<parent>/<name>: its uevent, hidraw node and bus/hid entry.
    void Hid(Text parent, Text name, Text hidId, Text hidName, Text hidraw, Text uniq = {}) const {
        const std::string at = "devices/" + parent + "/" + name;
        Attribute(at + "/uevent", "DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=" + hidName +
                                      "\nHID_PHYS=usb-0000:00:14.0-4/input0\nHID_UNIQ=" + uniq +
                                      "\nMODALIAS=hid:b0003g0001v0000FFFFp00000012");
        Attribute(at + "/hidraw/" + hidraw + "/dev", "243:2");
        Link("bus/hid/devices/" + name, at);
    }

    // A node under dev (a regular file: nothing ever opens it).
    void Node(Text path) const { std::ofstream{Made(Dev() / path)}; }

    void DevLink(Text at, Text to) const { std::filesystem::create_symlink(to, Made(Dev() / at)); }

    // An FTDI adapter: its usb-serial port device <tty> under the interface, the tty under that.
    void FtdiAdapter(Text port, Text tty, Text serial) const {
        const std::string usb =
            Usb(port, "0403", "6001", "0600", "ftdi_sio", "FT232R USB UART", "FTDI", serial);
        Driver(usb + "/" + tty, "usb-serial", "ftdi_sio");
        Tty(tty, usb + "/" + tty);
    }

    // A CDC ACM modem: its tty hangs off the interface itself; it gives no serial number.
    void CdcAcm(Text port, Text tty) const {
        Tty(tty, Usb(port, "2341", "0043", "0001", "cdc_acm", "Uno", "Arduino (www.arduino.cc)"));
    }

    // A port of the serial8250 platform device; `type` 0 means no UART answers there.
    void Uart8250(Text tty, Text type) const {
        Driver("platform/serial8250", "platform", "serial8250");
        Tty(tty, "platform/serial8250");
        Attribute("devices/platform/serial8250/tty/" + tty + "/type", type);
    }

    // A UART found through PNP on Linux 6.5 and later: the serial core's own port and
    // controller devices (bus serial-base) sit between the tty and the UART's device.
    void PnpUart(Text pnp, Text tty) const {
        const std::string ctrl = "pnp0/" + pnp + "/" + pnp + ":0";
        const std::string port = ctrl + "/" + pnp + ":0.0";
        Driver("pnp0/" + pnp, "pnp", "serial");
        Driver(ctrl, "serial-base", "ctrl");
        Driver(port, "serial-base", "port");
        Tty(tty, port);
        Attribute("devices/" + port + "/tty/" + tty + "/type", "4");
    }

    // A USB HID device with the given identity, its hidraw node <hidraw>.
    void UsbHid(Text port, Text vendor, Text product, Text bcdDevice, Text hidName,
                Text hidraw) const {
        Hid(Usb(port, vendor, product, bcdDevice, "usbhid", hidName),
            "0003:" + vendor + ":" + product + ".000" + port,
            "0003:0000" + vendor + ":0000" + product, hidName, hidraw);
    }

private:
    static Path Made(const Path& path) {
        std::filesystem::create_directories(path.parent_path());
        return path;
    }

    // devices/<device> bound to drivers/<driver> of bus/<bus>.
    void Driver(Text device, Text bus, Text driver) const {
        std::filesystem::create_directories(Sys() / "bus" / bus / "drivers" / driver);
        Link("devices/" + device + "/driver", "bus/" + bus + "/drivers/" + driver);
    }

    // A USB device on port 1-<port> (texts left empty are not written) and its interface
    // 1-<port>:1.0 bound to `driver`; returns the interface's device path.
    std::string Usb(Text port, Text vendor, Text product, Text bcdDevice, Text driver,
                    Text productName, Text manufacturer = {}, Text serial = {}) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-" + port;
        const std::pair<const char*, std::string> files[] = {
            {"idVendor", vendor},     {"idProduct", product},         {"bcdDevice", bcdDevice},
            {"product", productName}, {"manufacturer", manufacturer}, {"serial", serial}};
        for (const auto& [name, text] : files) {
            if (!text.empty()) {
                Attribute("devices/" + usb + "/" + name, text);
            }
        }
        Driver(usb + "/1-" + port + ":1.0", "usb", driver);
        return usb + "/1-" + port + ":1.0";
    }

    TempDir m_dir;
};

}  // namespace tarvik::test
