// The Windows listing of serial ports: the COM names among the DOS devices
// (QueryDosDevice, kernel32) and the devices that the registry's
// HARDWARE\DEVICEMAP\SERIALCOMM pairs with COM names (advapi32). Both are
// read only; no port is opened here.

#include <windows.h>

#include <string>
#include <vector>

#include "find/port_list_windows.hpp"

namespace vardel::find {

namespace {

// Enough for the DOS device names of a machine with many drives and ports;
// the buffer grows while the system says it is too small.
constexpr DWORD FIRST_BUFFER = 16 * 1024;
constexpr DWORD LARGEST_BUFFER = 4 * 1024 * 1024;

// QueryDosDeviceA's strings for `name` (nullptr: every DOS device name).
std::vector<std::string> queryDosDevice(const char* name) {
    for (DWORD size = FIRST_BUFFER; size <= LARGEST_BUFFER; size *= 2) {
        std::string buffer(size, '\0');
        const DWORD length = QueryDosDeviceA(name, buffer.data(), size);
        if (length > 0) return multiStringNames(std::string_view(buffer.data(), length));
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    }
    return {};
}

std::vector<DosDevice> comDosDevices() {
    std::vector<DosDevice> devices;
    for (const std::string& name : queryDosDevice(nullptr)) {
        if (name.size() < 4 || (name[0] != 'C' && name[0] != 'c')) continue;
        const std::vector<std::string> targets = queryDosDevice(name.c_str());
        devices.push_back(DosDevice{name, targets.empty() ? std::string() : targets.front()});
    }
    return devices;
}

std::vector<SerialCommValue> serialCommValues() {
    std::vector<SerialCommValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        // A REG_SZ value need not end in its NUL.
        std::string port(reinterpret_cast<const char*>(data), dataSize);
        port.resize(port.find('\0') == std::string::npos ? port.size() : port.find('\0'));
        values.push_back(SerialCommValue{std::string(name, nameSize), port});
    }
    RegCloseKey(key);
    return values;
}

}  // namespace

std::vector<PortEntry> listSystemPorts() { return windowsPortsFrom(comDosDevices(), serialCommValues()); }

}  // namespace vardel::find
