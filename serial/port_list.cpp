// The serial ports present.  See serial/port_list.h.
#include "serial/port_list.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/windows_api.h"
#include "serial/port_name.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#endif

namespace {

int listed = 0;

#if defined(_WIN32)
void list_present() {
    char target[1024];
    for (uint32_t number = 1; number <= COM_PORT_COUNT; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(number));
        if (QueryDosDeviceA(name, target, sizeof target) != 0) {
            std::printf("%s\n", name);
            ++listed;
        }
    }
}
#else
constexpr uint32_t HIGHEST_NUMBER = 255;  // numbers tried for each kind of device
constexpr int MAX_LINKS = 64;
constexpr size_t NAME_SIZE = 256;

char path[PORT_PATH_SIZE * 2];
char target[PATH_MAX];
char link_names[MAX_LINKS][NAME_SIZE];
const char* link_order[MAX_LINKS];

// " (COMn)" when `device` is the prefix followed by n - 1.
void print_com_name(const char* device) {
    const char* const prefix = com_device_prefix();
    const size_t length = std::strlen(prefix);
    if (std::strncmp(device, prefix, length) != 0 || device[length] < '0' || device[length] > '9') return;
    char* end = nullptr;
    const unsigned long number = std::strtoul(device + length, &end, 10);
    if (*end == '\0' && number < COM_PORT_COUNT) std::printf(" (COM%lu)", number + 1);
}

bool is_character_device(const char* name) {
    struct stat info {};
    return stat(name, &info) == 0 && S_ISCHR(info.st_mode);
}

// The serial driver makes ttyS devices whether or not a port is there; the
// kernel gives those the port type 0.
bool has_hardware(uint32_t number) {
    char type_path[PORT_PATH_SIZE];
    std::snprintf(type_path, sizeof type_path, "%s/ttyS%u/type", VELK_SYS_TTY_DIR, static_cast<unsigned>(number));
    std::FILE* const type = std::fopen(type_path, "r");
    if (type == nullptr) return false;
    int value = 0;
    const bool known = std::fscanf(type, "%d", &value) == 1 && value != 0;
    std::fclose(type);
    return known;
}

void list_numbered(const char* kind) {
    const bool placeholders = std::strcmp(kind, "ttyS") == 0;
    for (uint32_t number = 0; number <= HIGHEST_NUMBER; ++number) {
        std::snprintf(path, sizeof path, "%s/%s%u", VELK_DEVICE_DIR, kind, static_cast<unsigned>(number));
        if (!is_character_device(path) || (placeholders && !has_hardware(number))) continue;
        std::printf("%s", path);
        print_com_name(path);
        std::printf("\n");
        ++listed;
    }
}

// The stable names udev gives adapters, in name order, each with the device
// it leads to now.
void list_by_id() {
    std::snprintf(path, sizeof path, "%s/serial/by-id", VELK_DEVICE_DIR);
    DIR* const folder = opendir(path);
    if (folder == nullptr) return;
    int count = 0;
    for (const dirent* entry = readdir(folder); entry != nullptr && count < MAX_LINKS; entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || std::strlen(entry->d_name) >= NAME_SIZE) continue;
        std::strcpy(link_names[count], entry->d_name);
        link_order[count] = link_names[count];
        ++count;
    }
    closedir(folder);
    std::sort(link_order, link_order + count, [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    for (int i = 0; i < count; ++i) {
        std::snprintf(path, sizeof path, "%s/serial/by-id/%s", VELK_DEVICE_DIR, link_order[i]);
        if (!is_character_device(path) || realpath(path, target) == nullptr) continue;
        std::printf("%s -> %s", path, target);
        print_com_name(target);
        std::printf("\n");
        ++listed;
    }
}

void list_present() {
    for (const char* kind : {"ttyS", "ttyUSB", "ttyACM"}) list_numbered(kind);
    list_by_id();
}
#endif

}  // namespace

int list_serial_ports() {
    list_present();
    if (listed == 0) std::printf("No serial ports found.\n");
    return 0;
}
