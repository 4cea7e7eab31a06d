// How the batch tool's steps say that they failed: the codecs and the file
// layer throw BitmapError; each step that calls them returns an
// Expected<T>, a value or the Failure, and the job catches what is left
// once. GCC 12's library has no std::expected in C++20, so this is the
// small part of it the tool uses.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "pictures/picture_files.h"

namespace sigillon::batch {

struct Failure {
    enum class Side { Input, Stamp, Output };
    Side side = Side::Input;
    // The whole message as the user reads it after the input's name
    // ("scan.bmp - Error: wrong format (BMP: ...)", "Select a stamp!").
    std::string message;
};

// path's file could not be read or written: the program's wrong-format
// message with the reason.
inline Failure FileFailure(Failure::Side side, const std::string& path,
                           const std::string& reason) {
    return {side, FailureMessage(path, {FileOutcome::Failed, reason})};
}

template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T& operator*() { return value(); }
    T* operator->() { return &value(); }
    const Failure& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Failure> state_;
};

// A step that gives nothing back but may fail.
struct Done {};

}  // namespace sigillon::batch
