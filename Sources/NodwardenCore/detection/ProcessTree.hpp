#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The parent and child links of one process table, by row: built in one walk of the rows, so
/// every witness of a pass walks trees without indexing the table again. Where one id has several
/// rows, the first is the process of that id; each row is still a child of its parent.
class ProcessTree {
public:
    explicit ProcessTree(const std::vector<ProcessSnapshot>& processes);

    /// The row of the process `pid`, if the table has one.
    std::optional<std::size_t> rowOf(std::int32_t pid) const;
    /// The rows whose parent is the process of `row`, in row order.
    std::span<const std::size_t> childrenOf(std::size_t row) const;

private:
    /// (pid, row), sorted by pid and then row.
    std::vector<std::pair<std::int32_t, std::size_t>> rowsByPID_;
    /// Children of row r: childRows_[childStart_[r] .. childStart_[r + 1]).
    std::vector<std::size_t> childStart_;
    std::vector<std::size_t> childRows_;
};

} // namespace nodwarden
