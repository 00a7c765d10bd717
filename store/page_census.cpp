#include "store/page_census.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <unordered_set>

#include "store/record_reader.h"

namespace ese::detail {

namespace {

// Pages read from the disk at a time while every header is looked at.
constexpr std::size_t kPagesPerRead = 256;
// Trees of the database itself: its root, the catalogue and its shadow copy.
constexpr std::uint32_t kFirstTableObject = 4;

const std::vector<std::uint32_t>& Find(
    const std::unordered_map<std::uint32_t, std::vector<std::uint32_t>>& map, std::uint32_t key) {
    static const std::vector<std::uint32_t> kNone;
    const auto found = map.find(key);
    return found == map.end() ? kNone : found->second;
}

std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// A leaf of a tree of the kind the page header says, as the census files it.
bool IsTreeLeaf(const Page& page, std::uint32_t objectId, bool longValues) {
    return page.objectId == objectId && page.IsLeaf() &&
           (page.flags & (kPageIndex | kPageSpaceTree)) == 0 &&
           ((page.flags & kPageLongValue) != 0) == longValues;
}

}  // namespace

std::shared_ptr<const PageCensus> PageCensus::Take(const std::filesystem::path& path,
                                                   const PageFile& file) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto census = std::make_shared<PageCensus>();
    const std::size_t pageSize = file.pageSize();
    std::vector<std::uint8_t> buffer(pageSize * kPagesPerRead);
    // Page n sits after the two file headers; a page cut short by the end of the file is not
    // looked at.
    for (std::uint64_t first = 1; first <= file.pageCount(); first += kPagesPerRead) {
        const std::uint64_t count =
            std::min<std::uint64_t>(kPagesPerRead, file.pageCount() - first + 1);
        const off_t position = static_cast<off_t>((first + 1) * pageSize);
        std::size_t done = 0;
        while (done < count * pageSize) {
            const ssize_t n = ::pread(fd, buffer.data() + done, count * pageSize - done,
                                      position + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        for (std::uint64_t i = 0; i < done / pageSize; ++i) {
            const std::uint8_t* header = buffer.data() + i * pageSize;
            const std::uint32_t objectId = Le32(header + 24);
            const std::uint32_t flags = Le32(header + 36);
            ++census->pagesLookedAt_;
            if (objectId < kFirstTableObject || (flags & kPageLeaf) == 0 ||
                (flags & (kPageIndex | kPageSpaceTree | kPageEmpty)) != 0) {
                continue;
            }
            auto& filed = (flags & kPageLongValue) != 0 ? census->longValues_ : census->records_;
            filed[objectId].push_back(static_cast<std::uint32_t>(first + i));
        }
        if (done < count * pageSize) {
            break;  // the disk gives no more
        }
    }
    ::close(fd);
    return census;
}

const std::vector<std::uint32_t>& PageCensus::RecordLeaves(std::uint32_t objectId) const {
    return Find(records_, objectId);
}

const std::vector<std::uint32_t>& PageCensus::LongValueLeaves(std::uint32_t objectId) const {
    return Find(longValues_, objectId);
}

void TableRecords::AddLeaves(const std::vector<std::uint32_t>& leaves) {
    std::lock_guard lock(mutex_);
    Finish();
    std::unordered_set<std::uint32_t> walked;
    for (const Place& place : places_) {
        walked.insert(place.page);
    }
    std::vector<std::uint32_t> extra;
    for (std::uint32_t number : leaves) {
        if (walked.count(number) == 0) {
            extra.push_back(number);
        }
    }
    pagesRead_ = walked.size();
    if (extra.empty()) {
        return;  // the walk reached every leaf there is
    }
    // Every record with its key: those of the walk first, so that of two copies of a key (a
    // page split caught halfway, a leaf left behind by one) the one the tree leads to is kept.
    struct Keyed {
        std::vector<std::uint8_t> key;
        Place place;
    };
    std::vector<Keyed> all;
    all.reserve(places_.size());
    Page page;
    std::uint32_t loaded = 0;
    for (const Place& place : places_) {
        if (loaded != place.page) {
            loaded = file_->Read(place.page, page) == PageTrouble::kNone ? place.page : 0;
        }
        if (loaded != 0 && place.entry < page.entries.size()) {
            const ByteView key = page.Key(page.entries[place.entry]);
            all.push_back({{key.begin(), key.end()}, place});
        }
    }
    const std::size_t fromWalk = all.size();
    for (std::uint32_t number : extra) {
        if (const PageTrouble trouble = file_->Read(number, page); trouble != PageTrouble::kNone) {
            damage_.push_back({number, trouble, file_->Describe(number, trouble)});
            continue;
        }
        if (!IsTreeLeaf(page, layout_.objectId, false)) {
            continue;
        }
        ++pagesRead_;
        for (std::size_t e = 0; e < page.entries.size(); ++e) {
            if ((page.entries[e].flags & kTagDefunct) == 0) {
                const ByteView key = page.Key(page.entries[e]);
                all.push_back({{key.begin(), key.end()}, {number, static_cast<std::uint32_t>(e)}});
            }
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const Keyed& a, const Keyed& b) { return CompareKeys(a.key, b.key) < 0; });
    const auto last = std::unique(all.begin(), all.end(), [](const Keyed& a, const Keyed& b) {
        return CompareKeys(a.key, b.key) == 0;
    });
    all.erase(last, all.end());
    places_.clear();
    for (const Keyed& k : all) {
        places_.push_back(k.place);
    }
    recovered_ = all.size() > fromWalk ? all.size() - fromWalk : 0;
    haveCurrent_ = false;
}

RecoveredLongValues::RecoveredLongValues(std::shared_ptr<const PageFile> file,
                                         const std::vector<std::uint32_t>& leaves)
    : file_(std::move(file)) {
    Page page;
    for (std::uint32_t number : leaves) {
        if (file_->Read(number, page) != PageTrouble::kNone ||
            !IsTreeLeaf(page, page.objectId, true)) {
            continue;
        }
        std::uint32_t previous = 0;
        bool any = false;
        for (const Page::Entry& e : page.entries) {
            if ((e.flags & kTagDefunct) != 0 || e.keySize < 4) {
                continue;
            }
            const std::uint32_t id = Be32(page.keys.data() + e.keyOffset);
            if (!any || id != previous) {
                std::vector<std::uint32_t>& pages = pagesById_[id];
                if (pages.empty() || pages.back() != number) {
                    pages.push_back(number);
                }
            }
            previous = id;
            any = true;
        }
    }
}

std::vector<std::vector<std::uint8_t>> RecoveredLongValues::Segments(ByteView key,
                                                                     std::string& missing) const {
    missing.clear();
    std::vector<std::vector<std::uint8_t>> segments;
    if (key.size() != 4) {
        missing = "its key is not one of a long value";
        return segments;
    }
    // The record holds the identifier little-endian; the tree's keys are big-endian.
    const std::uint32_t id = Le32(key.data());
    const auto found = pagesById_.find(id);
    if (found == pagesById_.end()) {
        missing = "the whole value lost: none of its pages could be read";
        return segments;
    }
    std::optional<std::uint32_t> size;
    std::map<std::uint32_t, std::vector<std::uint8_t>> byOffset;  // each offset once
    Page page;
    for (std::uint32_t number : found->second) {
        if (file_->Read(number, page) != PageTrouble::kNone) {
            continue;
        }
        for (const Page::Entry& e : page.entries) {
            if ((e.flags & kTagDefunct) != 0 || e.keySize < 4 ||
                Be32(page.keys.data() + e.keyOffset) != id) {
                continue;
            }
            if (e.keySize == 4 && e.data.size() == 8) {
                size = Le32(e.data.data() + 4);
            } else if (e.keySize == 8 && !e.data.empty()) {
                byOffset.try_emplace(Be32(page.keys.data() + e.keyOffset + 4), e.data.begin(),
                                     e.data.end());
            }
        }
    }
    // The segments that follow one another from the start; a gap is a lost page.
    std::uint64_t expected = 0;
    std::uint64_t lost = 0;
    for (auto& [offset, data] : byOffset) {
        if (offset < expected) {
            continue;  // overlaps what is already there
        }
        lost += offset - expected;
        expected = static_cast<std::uint64_t>(offset) + data.size();
        segments.push_back(std::move(data));
    }
    if (size && *size > expected) {
        lost += *size - expected;
    }
    if (lost > 0) {
        missing = std::to_string(lost) + " of " +
                  (size ? std::to_string(*size) : std::string("an unknown number of")) +
                  " bytes lost with pages that could not be read";
    } else if (segments.empty() && !size) {
        missing = "the whole value lost: none of its pages could be read";
    }
    return segments;
}

}  // namespace ese::detail
