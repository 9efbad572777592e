// A password or a log-on line in memory: one buffer of its own that is overwritten whenever the secret
// lets go of it (destroyed, cleared, assigned over), and never left behind by a move or by growing.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tarvel {

class Secret {
public:
    Secret() = default;
    Secret(std::string_view text) { Append(text); } // NOLINT: a secret is written as its text
    Secret(const char* text) : Secret(std::string_view(text)) {}
    // Takes the text and wipes the string it came in.
    Secret(std::string&& text);
    Secret(const Secret& other) : Secret(other.View()) {}
    // The buffer changes hands: nothing of it stays in `other`.
    Secret(Secret&& other) noexcept;
    Secret& operator=(const Secret& other);
    Secret& operator=(Secret&& other) noexcept;
    ~Secret() { Release(); }

    std::string_view View() const { return {data_.get(), size_}; }
    const char* Data() const { return data_.get(); }
    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }

    // Room for `capacity` bytes in one buffer, so that appending up to it copies nothing elsewhere.
    void Reserve(std::size_t capacity);
    void Append(std::string_view text);
    void Append(char c) { Append(std::string_view(&c, 1)); }
    // Wipes the whole buffer, not only the bytes in use, and keeps it for reuse.
    void Clear();

private:
    void Release();

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Overwrites memory in a way the compiler may not drop.
void WipeBytes(char* bytes, std::size_t count);

} // namespace tarvel
