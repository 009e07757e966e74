#pragma once

// What a call of the publisher's tool reported, as one line a table test compares.
#include "pack/tool_refusal.h"

#include <functional>
#include <string>

namespace launcher::testing {

// "rule | subject | expected | actual" for a ToolRefusal, "<no error>" when the call returns, and
// "Error: <sentence>" for any other Error.
inline std::string refusalOf(const std::function<void()>& call) {
    try {
        call();
        return "<no error>";
    } catch (const ToolRefusal& refusal) {
        const RefusalDetails& details = refusal.details;
        return details.rule + " | " + details.subject + " | " + details.expected + " | " + details.actual;
    } catch (const Error& error) {
        return std::string("Error: ") + error.what();
    }
}

} // namespace launcher::testing
