#pragma once

#include <stdexcept>
#include <string>

namespace launcher {

// The one failure type of the launcher's own code. what() is a complete sentence for the
// player, in UTF-8; there is no code or nested cause.
struct Error : std::runtime_error {
    explicit Error(const std::string& sentence) : std::runtime_error(sentence) {}
    explicit Error(const char* sentence) : std::runtime_error(sentence) {}
};

// Thrown when the player cancelled the work. Derives from Error, so handlers that treat
// cancellation differently must catch it first.
struct Canceled : Error {
    Canceled() : Error("操作已取消") {}
};

} // namespace launcher
