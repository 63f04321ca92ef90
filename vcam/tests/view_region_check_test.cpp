// The decision whether a mapped view can be relied on, from the regions a query reports over
// it: views that are whole, and the shapes a producer's section may take that would fault in
// the camera's host (reserved pages, guard pages, a view smaller than the layout).

#include "view_region_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvek::vcam {
namespace {

constexpr std::uint32_t kMemReserve = 0x2000;
constexpr std::uint32_t kMemFree = 0x10000;
constexpr std::uint32_t kPageNoAccess = 0x01;
constexpr std::uint32_t kPageExecute = 0x10;
constexpr std::uint32_t kPageNoCache = 0x200;

constexpr std::uintptr_t kView = 0x10'0000;
constexpr std::size_t kPage = 0x1000;
// Like the frame section: the layout ends a little way into its last page.
constexpr std::size_t kLayout = 3 * kPage + 0x100;

MemoryRegion committed(std::uintptr_t base, std::size_t size, std::uint32_t protection)
{
    return {base, kView, size, kMemCommit, protection};
}

// A query that answers from a fixed list of regions, and fails for addresses in none of them.
struct ListedRegions {
    std::vector<MemoryRegion> regions;

    std::optional<MemoryRegion> operator()(std::uintptr_t address) const
    {
        for (const MemoryRegion& region : regions) {
            if (address >= region.base && address - region.base < region.size) {
                return region;
            }
        }
        return std::nullopt;
    }
};

struct ViewCase {
    std::string name;
    std::vector<MemoryRegion> regions;
    ViewAccess access;
    bool usable;
};

TEST(ViewRegionCheck, a_view_is_usable_only_when_committed_and_accessible_over_the_whole_layout)
{
    const std::uintptr_t last_page = kView + 3 * kPage;
    const std::vector<ViewCase> cases = {
        {"one read-write region",
         {committed(kView, 4 * kPage, kPageReadWrite)},
         ViewAccess::read_write,
         true},
        {"read-only region for reading",
         {committed(kView, 4 * kPage, kPageReadOnly)},
         ViewAccess::read_only,
         true},
        {"read-only region for writing",
         {committed(kView, 4 * kPage, kPageReadOnly)},
         ViewAccess::read_write,
         false},
        {"write-copy region for writing",
         {committed(kView, 4 * kPage, kPageWriteCopy)},
         ViewAccess::read_write,
         false},
        {"execute-read region for reading",
         {committed(kView, 4 * kPage, kPageExecuteRead)},
         ViewAccess::read_only,
         true},
        {"no-cache modifier",
         {committed(kView, 4 * kPage, kPageReadWrite | kPageNoCache)},
         ViewAccess::read_write,
         true},
        {"several committed regions",
         {committed(kView, kPage, kPageReadWrite), committed(kView + kPage, kPage, kPageReadOnly),
          committed(kView + 2 * kPage, 2 * kPage, kPageExecuteReadWrite)},
         ViewAccess::read_only,
         true},
        {"reserved only (SEC_RESERVE, nothing committed)",
         {{kView, kView, 4 * kPage, kMemReserve, 0}},
         ViewAccess::read_only,
         false},
        {"header committed, frames reserved",
         {committed(kView, kPage, kPageReadOnly),
          {kView + kPage, kView, 3 * kPage, kMemReserve, 0}},
         ViewAccess::read_only,
         false},
        {"last page reserved, which the layout reaches into by 0x100 bytes",
         {committed(kView, 3 * kPage, kPageReadOnly), {last_page, kView, kPage, kMemReserve, 0}},
         ViewAccess::read_only,
         false},
        {"guard page",
         {committed(kView, 4 * kPage, kPageReadWrite | kPageGuard)},
         ViewAccess::read_write,
         false},
        {"no access", {committed(kView, 4 * kPage, kPageNoAccess)}, ViewAccess::read_only, false},
        {"execute only", {committed(kView, 4 * kPage, kPageExecute)}, ViewAccess::read_only, false},
        {"view one page short, then free memory",
         {committed(kView, 3 * kPage, kPageReadOnly), {last_page, 0, kPage, kMemFree, 1}},
         ViewAccess::read_only,
         false},
        {"view one page short, then another allocation",
         {committed(kView, 3 * kPage, kPageReadOnly),
          {last_page, last_page, kPage, kMemCommit, kPageReadOnly}},
         ViewAccess::read_only,
         false},
        {"view one page short, then nothing the query knows",
         {committed(kView, 3 * kPage, kPageReadOnly)},
         ViewAccess::read_only,
         false},
    };
    for (const ViewCase& view_case : cases) {
        EXPECT_EQ(
            is_view_usable(kView, kLayout, view_case.access, ListedRegions{view_case.regions}),
            view_case.usable)
            << view_case.name;
    }
}

// A query that lies cannot send the walk backwards, round in circles or past the end of the
// address space.
TEST(ViewRegionCheck, an_implausible_report_makes_the_view_unusable)
{
    struct Report {
        std::string name;
        MemoryRegion region;
    };
    const std::vector<Report> reports = {
        {"empty region", committed(kView, 0, kPageReadWrite)},
        {"region starting past the address", committed(kView + kPage, 4 * kPage, kPageReadWrite)},
        {"region ending before the address", committed(kView - 2 * kPage, kPage, kPageReadWrite)},
        {"region reaching past the address space", committed(kView, UINTPTR_MAX, kPageReadWrite)},
    };
    for (const Report& report : reports) {
        const auto query = [&](std::uintptr_t) { return std::optional(report.region); };
        EXPECT_FALSE(is_view_usable(kView, kLayout, ViewAccess::read_only, query)) << report.name;
    }
}

TEST(ViewRegionCheck, a_layout_reaching_past_the_address_space_or_a_null_view_is_unusable)
{
    const auto everything = [](std::uintptr_t address) {
        return std::optional(MemoryRegion{address, address, kPage, kMemCommit, kPageReadWrite});
    };
    EXPECT_FALSE(
        is_view_usable(UINTPTR_MAX - kPage + 1, 2 * kPage, ViewAccess::read_only, everything));
    EXPECT_FALSE(is_view_usable(0, kLayout, ViewAccess::read_only, everything));
}

} // namespace
} // namespace tolvek::vcam
