// Why a port cannot be used, and the ports that --list finds.
#include <grp.h>
#include <sys/stat.h>

#include <climits>

#include "tests/live/live_rig.h"
#include "tests/support/pty.h"

namespace live {
namespace {

// Each way a port cannot be used: one line on standard error names the
// port, its device and the system's reason, the next says what to do.
TEST(LiveRunRefused, PortThatCannotBeUsedIsNamedWithItsDeviceTheReasonAndTheRemedy) {
    TempDir dir;
    const std::string missing = "/dev/velk_adapter_not_plugged_in";
    // A port that is busy is refused in LiveRun.MessagesDecodeInArrivalOrder..., held by a running velk_lzh.
    const std::string no_device = "No such file or directory\nvelk_lzh: no such device; velk_lzh --list shows the "
                                  "serial ports present\nCan not open comport\n";
    write_file(dir / "ttyS7", "");  // a file that is no serial port
    const auto trying = [](int com) { return "\r\nTrying to open COM port " + std::to_string(com) + "...\r\n"; };
    const struct {
        std::string argument, shown, err;  // shown after the banner
    } cases[] = {
        {"COM257", trying(257), ILLEGAL},
        {"com99999999999", trying(INT_MAX), ILLEGAL},
        {"COM256", opened(256).substr(BANNER.size()), "unable to open comport\nvelk_lzh: COM256 (./ttyS255): " + no_device},
        {missing, opened_path(missing).substr(BANNER.size()), "unable to open comport\nvelk_lzh: " + missing + ": " + no_device},
        {"COM8", opened(8).substr(BANNER.size()),
         "unable to set comport cfg settings\nvelk_lzh: COM8 (./ttyS7): Inappropriate ioctl for device\n"
         "Can not open comport\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        expect_result(run_velk(dir, {c.argument}), BANNER + c.shown, STATUS_NO_PORT, c.err);
    }
    EXPECT_FALSE(file_exists(dir / "velk_payload_data.txt"));
    EXPECT_FALSE(file_exists(dir / "velk_original_data.txt"));
}

// The most common first-day problem: a device of a group the user is not in.
TEST(LiveRunRefused, DeviceWithoutPermissionNamesTheGroupToJoin) {
    if (geteuid() != 0 || !file_exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root to become another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    Pty device;
    ASSERT_EQ(chown(device.name.c_str(), 0, 5) | chmod(device.name.c_str(), 0660), 0);
    const group* owner = getgrgid(5);
    ASSERT_NE(owner, nullptr);
    const std::string name = owner->gr_name;
    const ProgramResult r = run_program("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                             VELK_LZH_PATH, device.name}, dir.path());
    EXPECT_EQ(r.status, STATUS_NO_PORT);
    EXPECT_EQ(r.out, opened_path(device.name));
    EXPECT_EQ(r.err, "unable to open comport\nvelk_lzh: " + device.name + ": Permission denied\nvelk_lzh: " +
                         device.name + " belongs to group " + name + ": join it (sudo usermod -aG " + name +
                         " $USER), then log in again\nCan not open comport\n");
}

// --list reads the test build's folders: the working directory for /dev,
// its sys/class/tty for the kernel's, where a ttyS port with type 0 is one
// of the placeholders without hardware.
TEST(ListPorts, ShowsThePortsPresentWithTheirCOMNameAndTheLinksByIdOrSaysThereAreNone) {
    TempDir dir;
    expect_result(run_velk(dir, {"--list"}), "No serial ports found.\n", 0);
    Pty usb, uart, placeholder;
    const std::string by_id = "usb-Velk_Modem_0001-if00-port0";
    for (const char* folder : {"serial/by-id", "sys/class/tty/ttyS0", "sys/class/tty/ttyS1"})
        std::filesystem::create_directories(dir / folder);
    write_file(dir / "sys/class/tty/ttyS0/type", "0\n");
    write_file(dir / "sys/class/tty/ttyS1/type", "4\n");
    ASSERT_EQ(symlink(placeholder.name.c_str(), (dir / "ttyS0").c_str()) |
                  symlink(uart.name.c_str(), (dir / "ttyS1").c_str()) |
                  symlink(usb.name.c_str(), (dir / "ttyUSB0").c_str()) |
                  symlink("../../ttyUSB0", (dir / ("serial/by-id/" + by_id)).c_str()),
              0);
    write_file(dir / "ttyACM0", "");  // no device
    expect_result(run_velk(dir, {"--list"}),
                  "./ttyS1 (COM2)\n./ttyUSB0\n./serial/by-id/" + by_id + " -> " + usb.name + "\n", 0);
}

}  // namespace
}  // namespace live
