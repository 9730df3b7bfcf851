// FunctionRef: a call's callback taken by reference, for the length of the
// call only. The store's helpers run a caller's lambda inside a transaction
// or a retry loop; taking it this way lets them live in files of their own
// without copying the lambda or allocating, as std::function would.

#ifndef WENDREL_PLATFORM_POSIX_FUNCTION_REF_H_
#define WENDREL_PLATFORM_POSIX_FUNCTION_REF_H_

#include <memory>
#include <type_traits>
#include <utility>

namespace wendrel {
namespace platform {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  // Refers to `f`, which must outlive every call through this object (a
  // lambda written in the call's arguments does).
  template <typename F, typename = std::enable_if_t<
                            !std::is_same<std::decay_t<F>, FunctionRef>::value>>
  FunctionRef(F&& f)  // NOLINT(google-explicit-constructor): a lambda converts
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(
              std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_FUNCTION_REF_H_
