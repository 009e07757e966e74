#pragma once

#include "foundation/error.h"

#include <string>

namespace launcher {

// A refusal of the launcher's rules together with the file or archive entry it concerns, so the
// publisher knows what to change. what() is the launcher's own sentence.
struct RefusedEntry : Error {
    RefusedEntry(const Error& refusal, std::string entry) : Error(refusal.what()), entry(std::move(entry)) {}
    std::string entry;
};

} // namespace launcher
