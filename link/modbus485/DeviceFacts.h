#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// What the system says about a serial device and who has it, found without opening it or touching its
// lines. The library's open and qm4107-ports each put these facts into their own words. POSIX only.
namespace modbus485 {

struct DeviceGroup {
    bool present = false; // the device could be looked at
    std::string group;    // its group's name, or the number when the group has no name here
    bool groupNamed = false;
    mode_t mode = 0;
    std::string user;        // this process's user
    bool userListed = false; // the user database puts the user in the group (a session may predate it)
};
DeviceGroup deviceGroup(const std::string &device);

struct Holder {
    int pid = 0;
    std::string name; // the program's name, "?" when it cannot be read
};
struct Holders {
    std::vector<Holder> found; // the lock's holder first, then other processes with it open; never us
    bool allSeen = true;       // false when some process's descriptors could not be read
};
// Searches /proc/locks and every process's descriptors: a descriptor's link is read, never followed, and only
// a link into /dev is looked at, so a descriptor on a hung network mount cannot stall the search. With
// `firstOnly` it stops at the first holder.
Holders deviceHolders(const std::string &device, bool firstOnly = false);

} // namespace modbus485
