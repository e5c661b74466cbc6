/**
 * @file stridelog/hostkit/result.hpp
 * @brief What a host kit reader returns: the record, or why the bytes are not one.
 *
 * Nothing in the host kit throws; a failed read is a value with a message that
 * names the block and what is wrong with it.
 *
 * @par Threads
 * Plain values; no shared state.
 */
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace stridelog::hostkit {

/// @brief Why a block (or a file) could not be read.
struct Error {
    /// One line of English naming the block or file and what is wrong, such as
    /// "settings record of 95 bytes, not 96".
    std::string message;
};

/**
 * @brief A record of type @p T, or the Error that kept it from being read.
 *
 * Check ok() (or the result as a bool) before asking for the value.
 * @tparam T the record type
 */
template <class T>
class [[nodiscard]] Result {
  public:
    /// @brief A successful result.
    /// @param value the record
    Result(T value) : value_(std::move(value)) {}
    /// @brief A failed result.
    /// @param error why the record could not be read; its message becomes error()
    Result(Error error) : error_(std::move(error.message)) {}

    /// @return true when the result holds a record
    bool ok() const { return value_.has_value(); }
    /// @return ok()
    explicit operator bool() const { return ok(); }
    /// @return why the read failed; empty when ok()
    const std::string& error() const { return error_; }

    /// @name The record
    /// Asking a failed result for its record ends the program (std::abort())
    /// rather than reading a record that is not there.
    /// @{

    /// @return the record
    const T& value() const& { return checked(); }
    /// @return the record, modifiable
    T& value() & { return checked(); }
    /// @return the record, moved out of the result
    T&& value() && { return std::move(checked()); }
    /// @return the record
    const T& operator*() const& { return checked(); }
    /// @return the record, modifiable
    T& operator*() & { return checked(); }
    /// @return the address of the record
    const T* operator->() const { return &checked(); }
    /// @return the address of the record, modifiable
    T* operator->() { return &checked(); }
    /// @}

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

/// @brief Success or an error, for what has no record to return (saving a file).
template <>
class [[nodiscard]] Result<void> {
  public:
    /// @brief A success.
    Result() = default;
    /// @brief A failure.
    /// @param error what went wrong; its message becomes error()
    Result(Error error) : failed_(true), error_(std::move(error.message)) {}

    /// @return true on success
    bool ok() const { return !failed_; }
    /// @return ok()
    explicit operator bool() const { return ok(); }
    /// @return what went wrong; empty when ok()
    const std::string& error() const { return error_; }

  private:
    bool failed_ = false;
    std::string error_;
};

}  // namespace stridelog::hostkit
