#pragma once
// The COM port devices present on the machine, each with its friendly name and
// its hardware ids, for telling which USB serial adapter sits behind a port.
//
// Windows: the devices that expose the COM port interface, as SetupAPI lists
// them ("USB-SERIAL CH340 (COM3)" with "USB\VID_1A86&PID_7523&REV_0264", ...).
//
// Linux: the comN entries of the serial device folder (serialDeviceFolder())
// whose targets exist. A target's USB identity comes from sysfs: the tty of
// the same name under class/tty, walking up from its device to the USB device
// that holds idVendor and idProduct. The ids are shown the way Windows shows
// them, upper-case hex ("USB\VID_1A86&PID_7523&REV_0264", then without the
// revision), and the friendly name ends in "(COMn)", so one rule reads both.
// A port with no USB device behind it has no hardware ids. The sysfs root is
// $REZ_SYSFS_ROOT, else /sys.
#include <string>
#include <vector>

namespace rez::platform {

struct ComDevice {
    std::string friendlyName;
    std::vector<std::string> hardwareIds;
};

// False when the system gave no device list at all.
bool listComDevices(std::vector<ComDevice>& devices);

// Linux: the sysfs root in use now; Windows: empty.
std::string sysfsRoot();

}  // namespace rez::platform
