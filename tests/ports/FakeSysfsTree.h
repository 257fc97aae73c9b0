#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "ports/PortListing.h"
#include "support/TempDir.h"

namespace tarvik::test {

// A sysfs and a /dev of our own, laid out as the kernel lays them out: class and bus
// entries are relative links into devices/, and each device's `driver` and each tty's
// `device` are relative links as well, so the listing has to follow them as it would on a
// machine.
class FakeSysfsTree {
public:
    FakeSysfsTree() {
        std::filesystem::create_directories(Sys());
        std::filesystem::create_directories(Dev());
    }

    std::filesystem::path Sys() const { return m_dir.Path() / "sys"; }
    std::filesystem::path Dev() const { return m_dir.Path() / "dev"; }
    ports::ListingRoots Roots() const { return {Sys(), Dev()}; }

    // A file under sys, its folders created.
    void Attribute(const std::string& path, const std::string& text) const {
        const auto file = Sys() / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }

    // A relative link at `from` leading to `to`, both under sys, as the kernel's links are;
    // one already there is kept.
    void Link(const std::string& from, const std::string& to) const {
        const auto at = Sys() / from;
        if (std::filesystem::is_symlink(at)) {
            return;
        }
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_symlink((Sys() / to).lexically_relative(at.parent_path()), at);
    }

    // devices/<device> bound to drivers/<driver> of bus/<bus>.
    void Driver(const std::string& device, const std::string& bus,
                const std::string& driver) const {
        std::filesystem::create_directories(Sys() / "bus" / bus / "drivers" / driver);
        Link("devices/" + device + "/driver", "bus/" + bus + "/drivers/" + driver);
    }

    // A USB device at devices/<device>; texts left empty are not written.
    void UsbDevice(const std::string& device, const std::string& vendor, const std::string& product,
                   const std::string& bcdDevice, const std::string& productName = {},
                   const std::string& manufacturer = {}, const std::string& serial = {}) const {
        const std::string at = "devices/" + device + "/";
        Attribute(at + "idVendor", vendor);
        Attribute(at + "idProduct", product);
        Attribute(at + "bcdDevice", bcdDevice);
        for (const auto& [name, text] :
             {std::pair{"product", productName}, std::pair{"manufacturer", manufacturer},
              std::pair{"serial", serial}}) {
            if (!text.empty()) {
                Attribute(at + name, text);
            }
        }
    }

    // A tty at devices/<parent>/tty/<name>, its `device` link to devices/<parent> (none when
    // `parent` names a virtual folder), and class/tty/<name>.
    void Tty(const std::string& name, const std::string& parent, bool withDevice = true) const {
        const std::string at = "devices/" + parent + "/tty/" + name;
        Attribute(at + "/dev", "4:64");
        if (withDevice) {
            Link(at + "/device", "devices/" + parent);
        }
        Link("class/tty/" + name, at);
    }

    // A HID device at devices/<parent>/<name> with its uevent and hidraw node, and its
    // bus/hid/devices entry.
    void Hid(const std::string& parent, const std::string& name, const std::string& hidId,
             const std::string& hidName, const std::string& hidraw,
             const std::string& uniq = {}) const {
        const std::string at = "devices/" + parent + "/" + name;
        Attribute(at + "/uevent", "DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=" + hidName +
                                      "\nHID_PHYS=usb-0000:00:14.0-4/input0\nHID_UNIQ=" + uniq +
                                      "\nMODALIAS=hid:b0003g0001v0000FFFFp00000012");
        Attribute(at + "/hidraw/" + hidraw + "/dev", "243:2");
        Link("bus/hid/devices/" + name, at);
    }

    // A node under dev (a regular file: nothing ever opens it).
    void Node(const std::string& path) const {
        const auto file = Dev() / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream{file};
    }

    void DevLink(const std::string& from, const std::string& to) const {
        const auto at = Dev() / from;
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_symlink(to, at);
    }

    // The shapes a listing meets on real machines.

    // An FTDI adapter on USB port 1-<port>: interface 1-<port>:1.0 bound to ftdi_sio, the
    // usb-serial port device <tty> under it, and the tty under that.
    void FtdiAdapter(const std::string& port, const std::string& tty,
                     const std::string& serial) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-" + port;
        UsbDevice(usb, "0403", "6001", "0600", "FT232R USB UART", "FTDI", serial);
        Driver(usb + "/1-" + port + ":1.0", "usb", "ftdi_sio");
        Driver(usb + "/1-" + port + ":1.0/" + tty, "usb-serial", "ftdi_sio");
        Tty(tty, usb + "/1-" + port + ":1.0/" + tty);
    }

    // A CDC ACM modem on USB port 1-<port>, whose tty hangs off the interface itself, and
    // which gives no serial number.
    void CdcAcm(const std::string& port, const std::string& tty) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-" + port;
        UsbDevice(usb, "2341", "0043", "0001", "Uno", "Arduino (www.arduino.cc)");
        Driver(usb + "/1-" + port + ":1.0", "usb", "cdc_acm");
        Tty(tty, usb + "/1-" + port + ":1.0");
    }

    // A port of the serial8250 platform device; `type` 0 means no UART answers there.
    void Uart8250(const std::string& tty, const std::string& type) const {
        Driver("platform/serial8250", "platform", "serial8250");
        Tty(tty, "platform/serial8250");
        Attribute("devices/platform/serial8250/tty/" + tty + "/type", type);
    }

    // A UART found through PNP on Linux 6.5 and later: the serial core's own port and
    // controller devices (bus serial-base) sit between the tty and the UART's device.
    void PnpUart(const std::string& pnp, const std::string& tty) const {
        const std::string ctrl = "pnp0/" + pnp + "/" + pnp + ":0";
        const std::string port = ctrl + "/" + pnp + ":0.0";
        Driver("pnp0/" + pnp, "pnp", "serial");
        Driver(ctrl, "serial-base", "ctrl");
        Driver(port, "serial-base", "port");
        Tty(tty, port);
        Attribute("devices/" + port + "/tty/" + tty + "/type", "4");
    }

    // A USB HID device on port 1-<port> with the given identity, its hidraw node <hidraw>.
    void UsbHid(const std::string& port, const std::string& vendor, const std::string& product,
                const std::string& bcdDevice, const std::string& hidName,
                const std::string& hidraw) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-" + port;
        UsbDevice(usb, vendor, product, bcdDevice, hidName);
        Driver(usb + "/1-" + port + ":1.0", "usb", "usbhid");
        Hid(usb + "/1-" + port + ":1.0", "0003:" + vendor + ":" + product + ".000" + port,
            "0003:0000" + vendor + ":0000" + product, hidName, hidraw);
    }

private:
    TempDir m_dir;
};

}  // namespace tarvik::test
