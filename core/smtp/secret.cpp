// The secret's buffer: every byte is overwritten before the memory goes back to the heap.
#include "core/smtp/secret.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tarvel {

void WipeBytes(char* bytes, std::size_t count) {
    // Through a volatile pointer so that the stores are kept although the memory is freed after.
    volatile char* target = bytes;
    for (std::size_t i = 0; i < count; ++i)
        target[i] = 0;
}

Secret::Secret(std::string&& text) {
    Append(text);
    WipeBytes(text.data(), text.size());
    text.clear();
}

Secret::Secret(Secret&& other) noexcept
    : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Secret& Secret::operator=(const Secret& other) {
    if (this != &other) {
        Clear();
        Append(other.View());
    }
    return *this;
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

void Secret::Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    std::unique_ptr<char[]> larger(new char[capacity]);
    const std::size_t size = size_;
    if (size > 0) std::memcpy(larger.get(), data_.get(), size);
    Release();
    data_ = std::move(larger);
    size_ = size;
    capacity_ = capacity;
}

void Secret::Append(std::string_view text) {
    if (text.empty()) return;
    if (size_ + text.size() > capacity_) Reserve(std::max(size_ + text.size(), 2 * capacity_));
    std::memcpy(data_.get() + size_, text.data(), text.size());
    size_ += text.size();
}

void Secret::Clear() {
    if (data_) WipeBytes(data_.get(), capacity_);
    size_ = 0;
}

void Secret::Release() {
    Clear();
    data_.reset();
    capacity_ = 0;
}

} // namespace tarvel
