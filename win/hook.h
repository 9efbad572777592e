// The one way a platform call is replaced in tests: a Hook holds the real call, and Replace puts another in
// its place until the Override it returns goes (also when the test fails).
#pragma once

#include <functional>
#include <mutex>
#include <type_traits>
#include <utility>

namespace tarvel::ui {

template <typename Signature> class Hook;

template <typename R, typename... Args> class Hook<R(Args...)> {
public:
    using Function = std::function<R(Args...)>;

    // An empty `real` does nothing (and returns a value-initialised R).
    explicit Hook(Function real = {}) : real_(std::move(real)) {}
    Hook(const Hook&) = delete;
    Hook& operator=(const Hook&) = delete;

    // Safe from any thread; the call runs outside the hook's lock, so it may take its time.
    R operator()(Args... args) const {
        Function call;
        {
            std::lock_guard lock(mutex_);
            call = replacement_ ? replacement_ : real_;
        }
        if (!call) {
            if constexpr (std::is_void_v<R>)
                return;
            else
                return R{};
        }
        return call(std::forward<Args>(args)...);
    }

    class [[nodiscard]] Override {
    public:
        Override(Hook& hook, Function replacement) : hook_(&hook) {
            std::lock_guard lock(hook.mutex_);
            previous_ = std::exchange(hook.replacement_, std::move(replacement));
        }
        Override(Override&& other) noexcept
            : hook_(std::exchange(other.hook_, nullptr)), previous_(std::move(other.previous_)) {}
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;
        Override& operator=(Override&&) = delete;
        ~Override() {
            if (!hook_) return;
            std::lock_guard lock(hook_->mutex_);
            hook_->replacement_ = std::move(previous_);
        }

    private:
        Hook* hook_;
        Function previous_;
    };

    Override Replace(Function replacement) { return Override(*this, std::move(replacement)); }

private:
    mutable std::mutex mutex_;
    Function real_;
    Function replacement_;
};

} // namespace tarvel::ui
