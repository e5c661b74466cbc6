// What a host kit reader returns: the record, or why the bytes are not one.
// Nothing in the host kit throws; a failed read is a value with a message that
// names the block and what is wrong with it.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace stridelog::hostkit {

// Why a block (or a file) could not be read.
struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error.message)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Empty when ok().
    const std::string& error() const { return error_; }

    // The record. Asking a failed result for it ends the program rather than
    // reading a record that is not there.
    const T& value() const& { return checked(); }
    T& value() & { return checked(); }
    T&& value() && { return std::move(checked()); }
    const T& operator*() const& { return checked(); }
    T& operator*() & { return checked(); }
    const T* operator->() const { return &checked(); }
    T* operator->() { return &checked(); }

  private:
    T& checked() {
        if (!value_) std::abort();
        return *value_;
    }
    const T& checked() const {
        if (!value_) std::abort();
        return *value_;
    }

    std::optional<T> value_;
    std::string error_;
};

// Success or an error, for what has no record to return (saving a file).
template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : failed_(true), error_(std::move(error.message)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_; }

  private:
    bool failed_ = false;
    std::string error_;
};

}  // namespace stridelog::hostkit
