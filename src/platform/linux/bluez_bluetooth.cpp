#include "platform/linux/bluez_bluetooth.h"

#include "platform/linux/dbus_connection.h"
#include "platform/logger.h"

#include <cmath>
#include <cstring>
#include <systemd/sd-bus.h>

namespace orevant {

namespace {

constexpr const char* kService = "org.bluez";
constexpr const char* kDeviceInterface = "org.bluez.Device1";

const Logger& log() {
    static const Logger logger("BluetoothAudioMonitor");
    return logger;
}

std::string boundedName(const char* text) {
    std::string name(text, strnlen(text, BlueZBluetooth::kMaxNameBytes));
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return name;
}

// Reads one property value (the message is at the "v" of an "{sv}" entry) into `device`.
int readProperty(sd_bus_message* m, const char* key, BlueZDeviceProperties& device) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    const std::string k = key;
    const bool isString = contents && std::strcmp(contents, "s") == 0;
    if ((k == "Address" || k == "Name") && isString) {
        const char* text = nullptr;
        if ((r = sd_bus_message_read(m, "v", "s", &text)) < 0) return r;
        if (k == "Address")
            device.address = boundedName(text);
        else
            device.name = boundedName(text);
        return 0;
    }
    if (k == "Class" && contents && std::strcmp(contents, "u") == 0) {
        uint32_t value = 0;
        if ((r = sd_bus_message_read(m, "v", "u", &value)) < 0) return r;
        device.deviceClass = value;
        return 0;
    }
    if ((k == "Paired" || k == "Connected") && contents && std::strcmp(contents, "b") == 0) {
        int value = 0;
        if ((r = sd_bus_message_read(m, "v", "b", &value)) < 0) return r;
        (k == "Paired" ? device.paired : device.connected) = value != 0;
        return 0;
    }
    return sd_bus_message_skip(m, "v");
}

// Reads an a{sv} of properties.
int readProperties(sd_bus_message* m, BlueZDeviceProperties& device) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
        if ((r = readProperty(m, key, device)) < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

// Reads GetManagedObjects' a{oa{sa{sv}}}: every object that has org.bluez.Device1, by path.
int readManagedDevices(sd_bus_message* m, std::map<std::string, BlueZDeviceProperties>& devices) {
    int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    if (r < 0) return r;
    size_t objects = 0;
    while ((r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        if (++objects > BlueZBluetooth::kMaxObjects) return -E2BIG;
        const char* path = nullptr;
        if ((r = sd_bus_message_read(m, "o", &path)) < 0) return r;
        if ((r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) < 0) return r;
        while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* interface = nullptr;
            if ((r = sd_bus_message_read(m, "s", &interface)) < 0) return r;
            if (std::strcmp(interface, kDeviceInterface) == 0) {
                if ((r = readProperties(m, devices[path])) < 0) return r;
            } else if ((r = sd_bus_message_skip(m, "a{sv}")) < 0) {
                return r;
            }
            if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        }
        if (r < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

IOReturn statusOf(sd_bus_message* reply, const char* method) {
    if (!reply) return kIOReturnError;
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    if (!error) return kIOReturnSuccess;
    const std::string name = error->name ? error->name : "";
    // Asking for the state the device is already in has done what was asked.
    if (std::strcmp(method, "Connect") == 0 && name == "org.bluez.Error.AlreadyConnected") return kIOReturnSuccess;
    if (std::strcmp(method, "Disconnect") == 0 && name == "org.bluez.Error.NotConnected") return kIOReturnSuccess;
    if (name == SD_BUS_ERROR_TIMEOUT || name == SD_BUS_ERROR_NO_REPLY) return kIOReturnTimeout;
    return kIOReturnError;
}

// Calls a method asynchronously; `onReply` gets the reply (a method return or an error; null
// when the call could not be sent) once.
// The bus owns the pending call: if it closes first, `onReply` is dropped unrun.
using ReplyHandler = std::function<void(sd_bus_message*)>;
void callAsync(sd_bus* bus, const char* path, const char* interface, const char* member, uint64_t timeoutMicros,
               ReplyHandler onReply) {
    sd_bus_message* call = nullptr;
    auto* handler = new ReplyHandler(std::move(onReply));
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, kService, path, interface, member);
    if (r >= 0) {
        r = sd_bus_call_async(
            bus, &slot, call,
            [](sd_bus_message* reply, void* userdata, sd_bus_error*) {
                (*static_cast<ReplyHandler*>(userdata))(reply);
                return 0;
            },
            handler, timeoutMicros);
    }
    sd_bus_message_unref(call);
    if (r < 0) {
        (*handler)(nullptr);
        delete handler;
        return;
    }
    sd_bus_slot_set_destroy_callback(slot, [](void* userdata) { delete static_cast<ReplyHandler*>(userdata); });
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}

// A PropertiesChanged signal of a device that changes what the list shows (signal strength
// updates during discovery, for one, do not).
bool mattersToTheList(sd_bus_message* m) {
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 || std::strcmp(interface, kDeviceInterface) != 0) return false;
    const auto relevant = [](const char* key) {
        for (const char* k : {"Address", "Name", "Class", "Paired", "Connected"})
            if (std::strcmp(key, k) == 0) return true;
        return false;
    };
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
    int r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) return false;
        if (relevant(key)) return true;
        if (sd_bus_message_skip(m, "v") < 0 || sd_bus_message_exit_container(m) < 0) return false;
    }
    if (r < 0 || sd_bus_message_exit_container(m) < 0) return false;
    const char* invalidated = nullptr;
    if (sd_bus_message_enter_container(m, 'a', "s") < 0) return false;
    while (sd_bus_message_read(m, "s", &invalidated) > 0)
        if (relevant(invalidated)) return true;
    return false;
}

} // namespace

std::optional<BluetoothPairedDevice> BlueZDeviceProperties::pairedDevice() const {
    if (!paired || !BlueZBluetooth::isBlueZAddress(address)) return std::nullopt;
    const uint32_t cls = deviceClass.value_or(0);
    return BluetoothPairedDevice{address, name, (cls >> 8) & 0x1f, (cls >> 2) & 0x3f, connected};
}

bool BlueZBluetooth::isBlueZAddress(const std::string& address) {
    if (address.size() != 17) return false;
    for (size_t i = 0; i < address.size(); ++i) {
        const char c = address[i];
        if (i % 3 == 2) {
            if (c != ':') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// Everything that lives on the bus thread: the connection, the signal matches and the change
// callback.
class BlueZBluetooth::Bus {
public:
    Bus(std::unique_ptr<DBusConnection> connection, double timeout)
        : connection(std::move(connection)),
          timeoutMicros(static_cast<uint64_t>(std::llround(std::max(timeout, 0.001) * 1e6))) {}

    ~Bus() {
        connection->runAndWait([this](sd_bus*) {
            for (sd_bus_slot*& slot : matches) slot = sd_bus_slot_unref(slot);
        });
        // Replies still pending reach this object until the bus thread has ended.
        connection.reset();
    }

    void subscribe() {
        connection->runAndWait([this](sd_bus* bus) {
            const auto onSignal = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
                auto* self = static_cast<Bus*>(userdata);
                if (std::strcmp(sd_bus_message_get_member(m), "PropertiesChanged") == 0 && !mattersToTheList(m)) {
                    return 0;
                }
                self->changed();
                return 0;
            };
            const char* members[][2] = {{"org.freedesktop.DBus.ObjectManager", "InterfacesAdded"},
                                        {"org.freedesktop.DBus.ObjectManager", "InterfacesRemoved"},
                                        {"org.freedesktop.DBus.Properties", "PropertiesChanged"}};
            for (size_t i = 0; i < 3; ++i) {
                sd_bus_match_signal_async(bus, &matches[i], nullptr, nullptr, members[i][0], members[i][1], onSignal,
                                          nullptr, this);
            }
        });
    }

    void changed() {
        std::function<void()> callback;
        {
            std::lock_guard lock(mutex);
            callback = onChange;
        }
        if (callback) callback();
    }

    // Bus thread: lists every Device1 object, by path; `done` gets nothing when the call failed.
    void listDevices(sd_bus* bus,
                     std::function<void(std::optional<std::map<std::string, BlueZDeviceProperties>>)> done) {
        callAsync(bus, "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", timeoutMicros,
                  [done = std::move(done)](sd_bus_message* reply) {
                      std::map<std::string, BlueZDeviceProperties> devices;
                      if (!reply || sd_bus_message_is_method_error(reply, nullptr) ||
                          readManagedDevices(reply, devices) < 0) {
                          done(std::nullopt);
                          return;
                      }
                      done(std::move(devices));
                  });
    }

    std::unique_ptr<DBusConnection> connection;
    const uint64_t timeoutMicros;
    sd_bus_slot* matches[3] = {};
    std::mutex mutex;
    std::function<void()> onChange;
};

std::unique_ptr<BlueZBluetooth> BlueZBluetooth::connect(std::unique_ptr<DBusConnection> connection,
                                                        double operationTimeout) {
    if (!connection || !connection->hasOwner(kService)) return nullptr;
    auto bus = std::make_shared<Bus>(std::move(connection), operationTimeout);
    bus->subscribe();
    return std::unique_ptr<BlueZBluetooth>(new BlueZBluetooth(std::move(bus)));
}

BlueZBluetooth::BlueZBluetooth(std::shared_ptr<Bus> bus) : bus_(std::move(bus)) {}

BlueZBluetooth::~BlueZBluetooth() = default;

void BlueZBluetooth::setOnChange(std::function<void()> onChange) {
    std::lock_guard lock(bus_->mutex);
    bus_->onChange = std::move(onChange);
}

void BlueZBluetooth::pairedDevices(PairedCompletion completion) {
    Bus* bus = bus_.get();
    bus->connection->post([bus, completion = std::move(completion)](sd_bus* b) {
        bus->listDevices(b, [completion](std::optional<std::map<std::string, BlueZDeviceProperties>> devices) {
            std::vector<BluetoothPairedDevice> list;
            if (!devices) log().error("Cannot list Bluetooth devices from BlueZ");
            for (const auto& [path, properties] : devices.value_or(std::map<std::string, BlueZDeviceProperties>{})) {
                if (auto device = properties.pairedDevice()) list.push_back(std::move(*device));
            }
            completion(std::move(list));
        });
    });
}

void BlueZBluetooth::openConnection(const std::string& address, StatusCompletion completion) {
    operate(address, "Connect", std::move(completion));
}

void BlueZBluetooth::closeConnection(const std::string& address, StatusCompletion completion) {
    operate(address, "Disconnect", std::move(completion));
}

void BlueZBluetooth::operate(const std::string& address, const char* method, StatusCompletion completion) {
    Bus* bus = bus_.get();
    bus->connection->post([bus, address, method, completion = std::move(completion)](sd_bus* b) {
        bus->listDevices(b, [bus, b, address, method, completion](auto devices) {
            const std::string* path = nullptr;
            if (devices) {
                for (const auto& [p, properties] : *devices) {
                    if (properties.paired && properties.address == address) path = &p;
                }
            }
            if (!path) {
                completion(kIOReturnError);
                return;
            }
            callAsync(b, path->c_str(), kDeviceInterface, method, bus->timeoutMicros,
                      [completion, method](sd_bus_message* reply) { completion(statusOf(reply, method)); });
        });
    });
}

} // namespace orevant
