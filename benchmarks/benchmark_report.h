#pragma once

// One figure of a benchmark for scripts/benchmark's report: printed as a line "report {json}",
// which the script gathers into build/benchmarks/report.jsonl and its closing table
// (benchmarks/report.py computes the ratio and whether the target holds).
#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>

namespace launcher::benchmark {

struct Target {
    const char* of = "ratio"; // "ratio" or "value"
    std::optional<double> max;
    std::optional<double> min;
};

inline void reportFigure(const std::string& benchmark, const std::string& figure, double value,
                         const std::string& unit, const std::string& reference,
                         std::optional<double> referenceValue, std::optional<Target> target) {
    nlohmann::json line{{"benchmark", benchmark}, {"figure", figure}, {"value", value}, {"unit", unit}};
    if (!reference.empty()) line["reference"] = reference;
    if (referenceValue) line["referenceValue"] = *referenceValue;
    if (target) {
        nlohmann::json bound{{"of", target->of}};
        if (target->max) bound["max"] = *target->max;
        if (target->min) bound["min"] = *target->min;
        line["target"] = bound;
    }
    std::printf("report %s\n", line.dump().c_str());
    std::fflush(stdout);
}

} // namespace launcher::benchmark
