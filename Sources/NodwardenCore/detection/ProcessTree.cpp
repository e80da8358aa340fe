#include <NodwardenCore/detection/ProcessTree.hpp>

#include <algorithm>

namespace nodwarden {

ProcessTree::ProcessTree(const std::vector<ProcessSnapshot>& processes) {
    const std::size_t count = processes.size();
    rowsByPID_.reserve(count);
    for (std::size_t row = 0; row < count; ++row) {
        rowsByPID_.emplace_back(processes[row].pid, row);
    }
    // Tables come in pid order on Linux; any other order costs a sort.
    if (!std::is_sorted(rowsByPID_.begin(), rowsByPID_.end())) {
        std::sort(rowsByPID_.begin(), rowsByPID_.end());
    }
    // Each row's parent row, then the children grouped by parent in row order (a counting sort).
    std::vector<std::size_t> parentRow(count, count);
    childStart_.assign(count + 1, 0);
    for (std::size_t row = 0; row < count; ++row) {
        if (const auto parent = rowOf(processes[row].parentPID)) {
            parentRow[row] = *parent;
            ++childStart_[*parent + 1];
        }
    }
    for (std::size_t row = 0; row < count; ++row) {
        childStart_[row + 1] += childStart_[row];
    }
    childRows_.resize(childStart_[count]);
    std::vector<std::size_t> next(childStart_.begin(), childStart_.end() - 1);
    for (std::size_t row = 0; row < count; ++row) {
        if (parentRow[row] != count) {
            childRows_[next[parentRow[row]]++] = row;
        }
    }
}

std::optional<std::size_t> ProcessTree::rowOf(std::int32_t pid) const {
    const auto found = std::lower_bound(rowsByPID_.begin(), rowsByPID_.end(), pid,
                                        [](const std::pair<std::int32_t, std::size_t>& entry,
                                           std::int32_t wanted) { return entry.first < wanted; });
    if (found == rowsByPID_.end() || found->first != pid) {
        return std::nullopt;
    }
    return found->second;
}

std::span<const std::size_t> ProcessTree::childrenOf(std::size_t row) const {
    if (row + 1 >= childStart_.size()) {
        return {};
    }
    return std::span<const std::size_t>(childRows_)
        .subspan(childStart_[row], childStart_[row + 1] - childStart_[row]);
}

} // namespace nodwarden
