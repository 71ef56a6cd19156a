// The words a user reads when a serial device by path does not open.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "port_reason.h"

namespace {

std::string pathFailure(int error, const char* group = nullptr) {
    char text[256];
    port_path_failure_text(text, sizeof text, "/dev/ttyUSB0", error, group);
    return text;
}

TEST(PortReason, EachErrnoOfTheLinkIsToldInTheUsersWords) {
    const struct {
        int error;
        const char* group;
        const char* text;
    } cases[] = {
        {ENOENT, nullptr, "Cannot open /dev/ttyUSB0: there is no such port"},
        {EBUSY, nullptr, "Cannot open /dev/ttyUSB0: another program is using it"},
        {ENOTTY, nullptr, "Cannot open /dev/ttyUSB0: it is not a serial port the cube can use"},
        {EACCES, "dialout",
         "Cannot open /dev/ttyUSB0: only the group dialout may use it; add yourself with sudo "
         "usermod -aG dialout $USER, then log in again"},
        {EACCES, "", "Cannot open /dev/ttyUSB0: you may not open it"},
        {EACCES, nullptr, "Cannot open /dev/ttyUSB0: you may not open it"},
        {EIO, nullptr, "Cannot open /dev/ttyUSB0 (error 5: Input/output error)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pathFailure(c.error, c.group), c.text) << "errno " << c.error;
}

TEST(PortReason, OnlyBusyMeansAnotherProgramHoldsThePort) {
    EXPECT_TRUE(port_errno_is_in_use(EBUSY));
    for (int error : {ENOENT, EACCES, ENOTTY, EIO})
        EXPECT_FALSE(port_errno_is_in_use(error)) << "errno " << error;
}

TEST(PortReason, ATextTooLongForItsBufferIsCutShortAndTerminated) {
    char text[16];
    text[15] = 'x';
    port_path_failure_text(text, sizeof text, "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0",
                           ENOENT, nullptr);
    EXPECT_EQ(std::string(text), "Cannot open /de");
}

} // namespace
