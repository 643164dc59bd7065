#pragma once
// The user's defaults store: typed values under string keys. Main queue only.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace orevant {

struct DefaultsValue;
using DefaultsData = std::vector<uint8_t>;
using DefaultsStringArray = std::vector<std::string>;
// Dictionaries appear only in documents written by older versions.
using DefaultsDictionary = std::map<std::string, DefaultsValue>;

struct DefaultsValue {
    std::variant<DefaultsData, std::string, bool, int64_t, double, DefaultsStringArray, DefaultsDictionary> value;

    DefaultsValue() = default;
    template <typename T>
    DefaultsValue(T v) : value(std::move(v)) {}
    DefaultsValue(int v) : value(static_cast<int64_t>(v)) {}
    DefaultsValue(float v) : value(static_cast<double>(v)) {}
    DefaultsValue(const char* v) : value(std::string(v)) {}

    template <typename T>
    const T* get() const {
        return std::get_if<T>(&value);
    }
    bool operator==(const DefaultsValue& other) const { return value == other.value; }
};

class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;
    virtual std::optional<DefaultsValue> object(const std::string& key) const = 0;
    virtual void set(const std::string& key, DefaultsValue value) = 0;
    virtual void remove(const std::string& key) = 0;

    // Typed reads: nothing when the key is absent or holds another type. Numbers convert
    // between integer and float as the platform's store does, and an integer reads as a
    // string of its digits.
    std::optional<DefaultsData> data(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<int64_t> integer(const std::string& key) const;
    std::optional<double> real(const std::string& key) const;
    std::optional<DefaultsStringArray> stringArray(const std::string& key) const;
    std::optional<DefaultsDictionary> dictionary(const std::string& key) const;
};

class InMemoryDefaultsStore final : public DefaultsStore {
public:
    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;

    // Test aid: how many writes (set or remove) each key has seen.
    size_t writeCount(const std::string& key) const;
    const std::map<std::string, DefaultsValue>& all() const { return values_; }

private:
    std::map<std::string, DefaultsValue> values_;
    std::map<std::string, size_t> writes_;
};

} // namespace orevant
