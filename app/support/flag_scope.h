#pragma once

// Sets a flag for the lifetime of the scope and gives it back what it held before, so nested
// and early-returning paths leave it as they found it.

namespace ravlin {

class FlagScope {
  public:
    explicit FlagScope(bool& flag, bool value = true) : flag_(flag), saved_(flag) { flag = value; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;
    ~FlagScope() { flag_ = saved_; }

  private:
    bool& flag_;
    bool saved_;
};

}  // namespace ravlin
