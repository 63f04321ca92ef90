#include "pacing_statistics.h"

#include <algorithm>
#include <vector>

namespace tolvek::vcam {

PacingFigures pacing_figures(std::span<const std::int64_t> arrivals_ns, std::int64_t settle_ns,
                             std::int64_t target_ns)
{
    PacingFigures figures;
    if (arrivals_ns.empty()) {
        return figures;
    }
    const std::int64_t settled = arrivals_ns.front() + settle_ns;
    const auto first = std::lower_bound(arrivals_ns.begin(), arrivals_ns.end(), settled);
    std::vector<std::int64_t> deviations;
    std::int64_t total = 0;
    for (auto at = first; at != arrivals_ns.end() && std::next(at) != arrivals_ns.end(); ++at) {
        const std::int64_t interval = *std::next(at) - *at;
        total += interval;
        deviations.push_back(interval > target_ns ? interval - target_ns : target_ns - interval);
    }
    figures.intervals = deviations.size();
    if (deviations.empty()) {
        return figures;
    }
    figures.mean_interval_ns = static_cast<double>(total) / static_cast<double>(deviations.size());
    std::sort(deviations.begin(), deviations.end());
    // Nearest rank: the smallest deviation that at least `percent` % of the intervals do not
    // exceed.
    const auto percentile = [&](std::size_t percent) {
        return deviations[(deviations.size() * percent + 99) / 100 - 1];
    };
    figures.median_abs_deviation_ns = percentile(50);
    figures.p99_abs_deviation_ns = percentile(99);
    figures.max_abs_deviation_ns = deviations.back();
    return figures;
}

} // namespace tolvek::vcam
