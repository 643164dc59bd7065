#include "platform/defaults_store.h"

namespace orevant {

namespace {
template <typename T>
std::optional<T> typed(const DefaultsStore& store, const std::string& key) {
    auto v = store.object(key);
    if (!v) return std::nullopt;
    if (const T* p = v->get<T>()) return *p;
    return std::nullopt;
}
} // namespace

std::optional<DefaultsData> DefaultsStore::data(const std::string& key) const {
    return typed<DefaultsData>(*this, key);
}
std::optional<std::string> DefaultsStore::string(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (auto s = v->get<std::string>()) return *s;
    // A whole number reads as its digits, so a PIN once stored as a number still pairs.
    if (auto i = v->get<int64_t>()) return std::to_string(*i);
    return std::nullopt;
}
std::optional<DefaultsStringArray> DefaultsStore::stringArray(const std::string& key) const {
    return typed<DefaultsStringArray>(*this, key);
}
std::optional<DefaultsDictionary> DefaultsStore::dictionary(const std::string& key) const {
    return typed<DefaultsDictionary>(*this, key);
}

std::optional<bool> DefaultsStore::boolean(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (auto b = v->get<bool>()) return *b;
    if (auto i = v->get<int64_t>()) return *i != 0;
    if (auto d = v->get<double>()) return *d != 0.0;
    return std::nullopt;
}

std::optional<int64_t> DefaultsStore::integer(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (auto i = v->get<int64_t>()) return *i;
    if (auto d = v->get<double>()) return static_cast<int64_t>(*d);
    if (auto b = v->get<bool>()) return *b ? 1 : 0;
    return std::nullopt;
}

std::optional<double> DefaultsStore::real(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (auto d = v->get<double>()) return *d;
    if (auto i = v->get<int64_t>()) return static_cast<double>(*i);
    if (auto b = v->get<bool>()) return *b ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<DefaultsValue> InMemoryDefaultsStore::object(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void InMemoryDefaultsStore::set(const std::string& key, DefaultsValue value) {
    values_[key] = std::move(value);
    ++writes_[key];
}

void InMemoryDefaultsStore::remove(const std::string& key) {
    values_.erase(key);
    ++writes_[key];
}

size_t InMemoryDefaultsStore::writeCount(const std::string& key) const {
    auto it = writes_.find(key);
    return it == writes_.end() ? 0 : it->second;
}

} // namespace orevant
