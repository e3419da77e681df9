// The active file list: two circular rings over one set of entries, the
// sorted one (in the order of SortType) and a random one whose permutation
// is fixed as entries go in.
//
// Sorting happens as entries are added, run by run: an entry marked runEnd
// closes the run that new names are sorted into, and the walk back from it
// stops at the previous mark. Expanding a file spec marks it and the entry
// before it, so its members are sorted among themselves right behind it,
// and the file spec, once listed, goes.
#include "view/slide_list.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "app/busy.h"
#include "filepkg/filepkg.h"
#include "settings/profile.h"

namespace {

constexpr int kExtensionsPerList = 8;
constexpr size_t kMaxFileSpecLength = 511;
constexpr const char* kNoFile = "No File";

// The extension lists in the order of the settings: GIF, BMP, PCX, TGA,
// JPG, TIF, WMF, WAV, AVI, SLI, UUE, ZIP.
enum TExtensionList { kGif, kBmp, kPcx, kTga, kJpg, kTif, kWmf, kWav, kAvi, kSli, kUue, kZip, kLists };

// The lists each file-type index selects, as a first list and a count
// (index 8 is every picture list, 13 every list but ZIP's).
struct TTypeLists {
  int first;
  int count;
  const char* label;
};
constexpr TTypeLists kFileTypes[] = {
    {kGif, 1, "GIF Files"},   {kBmp, 1, "BMP Files"},         {kPcx, 1, "PCX Files"},          {kTga, 1, "TGA Files"},
    {kJpg, 1, "JPG Files"},   {kTif, 1, "TIF Files"},         {kWmf, 1, "WMF Files"},          {kGif, 7, "Image Files"},
    {kWav, 1, "Sound Files"}, {kAvi, 1, "Movie Files"},       {kSli, 1, "Slide Show Files"},   {kUue, 1, "Encoded Files"},
    {kGif, 11, "Zerbalin Files"}, {kZip, 1, "ZIP Files"},     {kGif, 0, "All Files"},
};
constexpr int32_t kAllFiles = 15;

const std::string& Extension(const TProfile& settings, int list, int index) {
  return settings.GetString(static_cast<StrKey>(static_cast<int>(StrKey::GIFExt0) + list * kExtensionsPerList + index));
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return std::tolower(static_cast<unsigned char>(c)); });
  return lower;
}

// The file name and extension of a name; its folder, up to its last '/'.
std::string_view FileNamePart(std::string_view name) { return name.substr(name.find_last_of("/\\") + 1); }
std::string_view FolderPart(std::string_view name) {
  size_t slash = name.find_last_of("/\\");
  return slash == std::string_view::npos ? std::string_view() : name.substr(0, slash + 1);
}
std::string_view ExtensionPart(std::string_view name) {
  std::string_view file = FileNamePart(name);
  size_t dot = file.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : file.substr(dot);
}

// '?' matches one character, '*' any run of them, including none.
bool Matches(std::string_view name, std::string_view pattern) {
  size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// A file name against a list of patterns separated by ';', without regard
// to case.
bool MatchesAny(std::string_view fileName, std::string_view patterns) {
  const std::string name = Lower(fileName);
  const std::string list = Lower(patterns);
  for (size_t start = 0; start <= list.size();) {
    size_t end = std::min(list.find(';', start), list.size());
    if (end > start && Matches(name, std::string_view(list).substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

// Names compared without regard to case, runs of digits by their value, so
// that page2.gif comes before page10.gif.
int NaturalCompare(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (std::isdigit(ca) && std::isdigit(cb)) {
      size_t startA = i, startB = j;
      while (startA < a.size() && a[startA] == '0') ++startA;
      while (startB < b.size() && b[startB] == '0') ++startB;
      size_t endA = startA, endB = startB;
      while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
      while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
      if (endA - startA != endB - startB) return endA - startA < endB - startB ? -1 : 1;
      if (int digits = a.substr(startA, endA - startA).compare(b.substr(startB, endB - startB)); digits != 0)
        return digits;
      i = endA;
      j = endB;
      continue;
    }
    const int la = std::tolower(ca), lb = std::tolower(cb);
    if (la != lb) return la < lb ? -1 : 1;
    ++i;
    ++j;
  }
  return (a.size() - i > 0) - (b.size() - j > 0);
}

// The five parts a name is compared by in a search: scheme, drive or host,
// folder, file name and extension.
struct TNameParts {
  std::string parts[5];
};

TNameParts Split(std::string_view name) {
  TNameParts split;
  size_t scheme = name.find("://");
  if (scheme != std::string_view::npos) {
    split.parts[0] = name.substr(0, scheme);
    name.remove_prefix(scheme + 3);
    size_t slash = name.find('/');
    split.parts[1] = name.substr(0, slash);
    name.remove_prefix(slash == std::string_view::npos ? name.size() : slash);
  }
  std::string_view file = FileNamePart(name);
  split.parts[2] = FolderPart(name);
  size_t dot = file.rfind('.');
  split.parts[3] = file.substr(0, dot);
  split.parts[4] = dot == std::string_view::npos ? std::string_view() : file.substr(dot);
  return split;
}

// Pass 0: every part given and present must be equal; pass 1: each given
// part must begin the entry's.
bool PartsMatch(const TNameParts& given, const TNameParts& entry, int pass) {
  for (int i = 0; i < 5; ++i) {
    const std::string& want = given.parts[i];
    const std::string& have = entry.parts[i];
    if (want.empty() || have.empty()) continue;
    bool match = pass == 0 ? strcasecmp(want.c_str(), have.c_str()) == 0
                           : strncasecmp(want.c_str(), have.c_str(), want.size()) == 0 && want.size() <= have.size();
    if (!match) return false;
  }
  return true;
}

void Link(TSlideEntry* after, TSlideEntry* entry, TSlideLink next, TSlideLink prev) {
  TSlideEntry* following = after->links[next];
  entry->links[prev] = after;
  entry->links[next] = following;
  after->links[next] = entry;
  following->links[prev] = entry;
}

void Unlink(TSlideEntry* entry, TSlideLink next, TSlideLink prev) {
  entry->links[prev]->links[next] = entry->links[next];
  entry->links[next]->links[prev] = entry->links[prev];
}

// The busy operation and stop request of an expansion.
class TExpansionBusy : public TBusyScope {
public:
  // True when the user asked to stop.
  bool Cancelled() { return BusyProgress(-1) != 0; }
};

} // namespace

TSlideList::TSlideList(const TProfile& settings)
    : m_settings(settings),
      m_random(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count())) {}

TSlideList::~TSlideList() { Clear(); }

void TSlideList::Clear() {
  for (TSlideEntry* entry : m_entries) delete entry;
  m_entries.clear();
  m_head = m_current = nullptr;
}

int TSlideList::Compare(const TSlideEntry& newEntry, const TSlideEntry& entry) const {
  int sortType = m_settings.Get(IntKey::SortType);
  int byTime = 0;
  if (sortType != 0 && newEntry.time != entry.time) byTime = newEntry.time < entry.time ? -1 : 1;
  if (sortType == 1) byTime = -byTime;
  return byTime != 0 ? byTime : NaturalCompare(newEntry.name, entry.name);
}

std::unique_ptr<TSlideEntry> TSlideList::NewEntry(std::string_view name, int32_t typeIndex, bool scanDirectory,
                                                  bool subdirectories, int32_t depth) const {
  auto entry = std::make_unique<TSlideEntry>();
  entry->name = name;
  entry->typeIndex = typeIndex;
  entry->scanDirectory = scanDirectory;
  entry->subdirectories = subdirectories;
  entry->depth = depth;
  if (m_settings.Get(IntKey::SortType) > 0) {
    TPkgStream* stream = PkgOpen(entry->name.c_str(), "rb");
    TPkgInfo info{};
    if (stream) PkgGetInfo(stream, &info);
    PkgClose(stream, kPkgKeep);
    entry->time = stream ? info.time : static_cast<int32_t>(std::time(nullptr));
  }
  return entry;
}

// Puts a new entry into both rings: sorted into the run that holds the
// anchor (after the last entry when there is none), or at the run's end
// when unsorted. A name the run already holds adds nothing (nullptr).
TSlideEntry* TSlideList::Place(std::unique_ptr<TSlideEntry> entry, TSlideEntry* anchor, bool unsorted) {
  if (m_entries.empty()) {
    entry->links = {entry.get(), entry.get(), entry.get(), entry.get()};
    entry->runEnd = true;
    m_head = m_current = entry.get();
    m_entries.push_back(entry.release());
    return m_head;
  }
  TSlideEntry* runEnd = anchor ? anchor : m_head->links[kSortedPrev];
  for (size_t i = 0; anchor && !runEnd->runEnd && i < m_entries.size(); ++i) runEnd = runEnd->links[kSortedNext];
  TSlideEntry* after = runEnd;
  bool steppedBack = false;
  while (!unsorted) {
    int order = Compare(*entry, *after);
    if (order == 0 && strcasecmp(entry->name.c_str(), after->name.c_str()) == 0) return nullptr;
    if (order > 0) break;
    TSlideEntry* previous = after->links[kSortedPrev];
    steppedBack = true;
    after = previous;
    if (previous->runEnd) break;
  }
  // The random ring: after any one of the entries there were before.
  TSlideEntry* randomAnchor = m_entries[m_random() % m_entries.size()];
  // A name that sorts before the head of the list becomes its head.
  const bool newHead = steppedBack && after->links[kSortedNext] == m_head && Compare(*entry, *m_head) < 0;
  TSlideEntry* placed = entry.release();
  Link(after, placed, kSortedNext, kSortedPrev);
  Link(randomAnchor, placed, kRandomNext, kRandomPrev);
  if (!steppedBack) {
    placed->runEnd = true;
    after->runEnd = false;
  }
  if (newHead) m_head = placed;
  placed->slot = m_entries.size();
  m_entries.push_back(placed);
  return placed;
}

void TSlideList::Add(std::string_view fileSpec, int32_t typeIndex, bool scanDirectory, bool subdirectories,
                     bool afterCurrent) {
  std::string name(fileSpec.substr(0, kMaxFileSpecLength));
  if (name.size() > 3 && name.ends_with("...")) {
    name.resize(name.size() - 3);
    subdirectories = true;
  }
  std::string full = PkgFullName(name);
  if (full.empty()) return;
  Place(NewEntry(full, typeIndex, scanDirectory, subdirectories, 1), afterCurrent ? m_current : nullptr, false);
  TSlideEntry* previous = m_current->links[kSortedPrev];
  if (afterCurrent && !previous->runEnd && previous != m_current) m_current = previous;
}

void TSlideList::AddList(std::string_view fileSpecs, int32_t typeIndex, bool scanDirectory, bool subdirectories,
                         bool afterCurrent) {
  for (size_t start = 0; start <= fileSpecs.size();) {
    const size_t end = std::min(fileSpecs.find(';', start), fileSpecs.size());
    if (end > start) Add(fileSpecs.substr(start, end - start), typeIndex, scanDirectory, subdirectories, afterCurrent);
    start = end + 1;
  }
}

TSlideEntry* TSlideList::Remove(TSlideEntry* entry) {
  TSlideEntry* next = entry->links[kSortedNext] == entry ? nullptr : entry->links[kSortedNext];
  Unlink(entry, kSortedNext, kSortedPrev);
  Unlink(entry, kRandomNext, kRandomPrev);
  if (m_head == entry) m_head = next;
  if (m_current == entry) m_current = next;
  TSlideEntry* last = m_entries.back();
  m_entries[entry->slot] = last;
  last->slot = entry->slot;
  m_entries.pop_back();
  delete entry;
  return next;
}

bool TSlideList::HasExtension(std::string_view name, int firstList, int lists) const {
  const std::string_view extension = ExtensionPart(name);
  if (extension.empty()) return false;
  for (int list = firstList; list < firstList + lists; ++list)
    for (int i = 0; i < kExtensionsPerList; ++i) {
      const std::string& known = Extension(m_settings, list, i);
      if (!known.empty() && known.size() == extension.size() &&
          strncasecmp(known.data(), extension.data(), extension.size()) == 0)
        return true;
    }
  return false;
}

std::string TSlideList::FileTypeFilter(int32_t typeIndex) const {
  if (typeIndex < 1 || typeIndex >= kAllFiles) return "*";
  const TTypeLists& type = kFileTypes[typeIndex - 1];
  std::string filter;
  for (int list = type.first; list < type.first + type.count; ++list)
    for (int i = 0; i < kExtensionsPerList; ++i)
      if (const std::string& extension = Extension(m_settings, list, i); !extension.empty())
        filter += (filter.empty() ? "*" : ";*") + extension;
  return filter;
}

const char* TSlideList::FileTypeLabel(int32_t typeIndex) {
  return typeIndex >= 1 && typeIndex <= kAllFiles ? kFileTypes[typeIndex - 1].label : "";
}

// Reads the listing of target and adds its members behind the entry: those
// whose file name matches the pattern, and folders when subdirectories are
// wanted.
void TSlideList::ListInto(TSlideEntry* entry, const std::string& target, const std::string& pattern,
                          bool& cancelled) {
  TPkgStream* listing = PkgOpen(target.c_str(), "rd");
  TPkgInfo info{};
  PkgGetInfo(listing, &info);
  const std::string layer = info.layerId;
  const bool unsorted = layer == "sli" || layer == "htm";
  const bool container = layer == "uue" || layer == "zip" || layer == "tif" || layer == "pwp" || layer == "gif";
  const std::string& members = unsorted || container ? std::string("*") : pattern;
  const int32_t depth = unsorted ? 1 : container ? entry->depth + 1 : entry->depth;
  if (unsorted) entry->scanDirectory = false;
  if (layer == "tif" || layer == "pwp" || layer == "gif") entry->directoryPending = false;
  // A list that names itself adds no copy of itself.
  const std::string self = std::string(info.name).substr(0, std::strlen(info.name) - 1);
  std::vector<std::unique_ptr<TSlideEntry>> found;
  char record[kPkgRecordSize];
  while (!cancelled && PkgReadEntry(listing, record)) {
    std::string_view name = record;
    const bool folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
    const bool wanted = (folder && entry->subdirectories) || (!folder && MatchesAny(FileNamePart(name), members));
    if (wanted && !(unsorted && PkgFullName(name) == self))
      found.push_back(NewEntry(name, entry->typeIndex, false, entry->subdirectories, depth));
    cancelled = BusyProgress(-1) != 0;
  }
  PkgClose(listing, kPkgKeep);
  // Members placed in their order each sort in next to the one before, so
  // a big folder goes in without walking its run again for every name.
  if (!unsorted)
    std::stable_sort(found.begin(), found.end(),
                     [this](const auto& a, const auto& b) { return Compare(*a, *b) < 0; });
  TSlideEntry* anchor = entry;
  for (auto& member : found)
    if (TSlideEntry* placed = Place(std::move(member), anchor, unsorted)) anchor = placed;
}

TSlideEntry* TSlideList::Expand(TSlideEntry* entry, bool allowDirectoryScan, bool force) {
  if (!entry) return nullptr;
  TExpansionBusy busy;
  int mark = 0;
  entry->runEnd = true;
  entry->links[kSortedPrev]->runEnd = true;
  while (entry) {
    std::string target;
    std::string pattern;
    const std::string_view fileName = FileNamePart(entry->name);
    if (entry->patternPending) {
      entry->patternPending = false;
      const bool url = entry->name.find("://") != std::string::npos;
      if (!url && fileName.find_first_of("*?;") != std::string_view::npos) {
        target = FolderPart(entry->name);
        pattern = fileName;
        mark = 2;
      }
    }
    const bool folderName = !entry->name.empty() && (entry->name.back() == '/' || entry->name.back() == '\\');
    if (target.empty() && entry->directoryPending && (force || folderName)) {
      entry->directoryPending = false;
      target = entry->name;
      pattern = FileTypeFilter(entry->typeIndex);
      mark = 1;
    }
    if (target.empty() && entry->scanDirectory && allowDirectoryScan) {
      entry->scanDirectory = false;
      target = FolderPart(entry->name);
      pattern = FileTypeFilter(entry->typeIndex);
    }
    if (target.empty()) break; // a plain file
    TPkgStream* probe = PkgOpen(target.c_str(), "rd");
    PkgClose(probe, kPkgKeep);
    bool cancelled = busy.Cancelled();
    if (!probe) {
      // A wildcard file spec that cannot be listed goes. Anything else that is
      // not a container is a plain file, which stays even when its folder
      // is listed next (a single file named on its own keeps its place).
      if (mark == 2)
        entry = Remove(entry);
      else
        mark = 0;
      if (cancelled) break;
      continue;
    }
    ListInto(entry, target, pattern, cancelled);
    if (cancelled) break;
    if (mark == 1 && entry->scanDirectory) {
      // A container named on its own: its folder is listed too, and then
      // it goes, replaced by its members.
      mark = 2;
      allowDirectoryScan = true;
      continue;
    }
    if (mark != 0) entry = Remove(entry);
    mark = 0;
  }
  return entry;
}

void TSlideList::Step(TSlideLink link, int32_t n) {
  for (int32_t i = 0; i < n && m_current; ++i) {
    TSlideEntry* from = Expand(m_current, true, true);
    if (!from) return;
    TSlideEntry* to = Expand(from->links[link], true, true);
    if (to) m_current = to;
  }
}

std::string TSlideList::CurrentName(bool expand) {
  if (expand && m_current) Expand(m_current, false, true);
  return m_current ? m_current->name : kNoFile;
}

std::string TSlideList::Caption(int32_t size) {
  if (m_current) Expand(m_current, false, true);
  if (!m_current) return kNoFile;
  const std::string& name = m_current->name;
  if (size <= 0) {
    // The last depth components.
    size_t start = name.size();
    for (int32_t i = 0; i < m_current->depth; ++i) {
      size_t slash = start == 0 ? std::string::npos : name.find_last_of("/\\", start - 1);
      if (slash == std::string::npos) return name;
      start = slash;
    }
    return name.substr(start + 1);
  }
  if (name.size() <= static_cast<size_t>(size)) return name;
  // "..." and the shortest tail that starts at a '/' and fits.
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
    if (name.size() - slash <= static_cast<size_t>(size)) return "..." + name.substr(slash);
  return name.substr(name.size() - static_cast<size_t>(size));
}

bool TSlideList::IsLast() {
  if (!m_current) return true;
  TSlideEntry* current = Expand(m_current, true, true);
  if (!current) return true;
  Expand(current->links[kSortedNext], true, true);
  return !m_current || m_current->links[kSortedNext] == m_head;
}

bool TSlideList::IsSound(std::string_view name) const { return HasExtension(name, kWav, 1); }
bool TSlideList::IsMovie(std::string_view name) const { return HasExtension(name, kAvi, 1); }

bool TSlideList::NextIsSound(TSlideLink link) { return m_current && IsSound(m_current->links[link]->name); }
bool TSlideList::NextIsMovie(TSlideLink link) { return m_current && IsMovie(m_current->links[link]->name); }

bool TSlideList::SelectByName(std::string_view name) {
  const TNameParts given = Split(name);
  TExpansionBusy busy;
  for (int pass = 0; pass < 2; ++pass) {
    TSlideEntry* entry = m_current;
    for (int32_t i = 0; entry && i < Count(); ++i) {
      entry = Expand(entry->links[kSortedNext], true, false);
      if (!entry) return false;
      if (PartsMatch(given, Split(entry->name), pass)) {
        m_current = entry;
        return true;
      }
      if (busy.Cancelled()) return false;
    }
  }
  return false;
}

void TSlideList::RecordPlacement(const TPlacementRect& rect, int32_t time) {
  if (!m_current) return;
  std::copy_backward(m_current->placements.begin(), m_current->placements.end() - 1, m_current->placements.end());
  std::copy_backward(m_current->placementTimes.begin(), m_current->placementTimes.end() - 1,
                     m_current->placementTimes.end());
  m_current->placements[0] = rect;
  m_current->placementTimes[0] = time;
}

bool TSlideList::HitTest(int32_t x, int32_t y) {
  TSlideEntry* best = nullptr;
  int32_t bestTime = 0;
  TSlideEntry* entry = m_head;
  for (int32_t i = 0; i < Count(); ++i, entry = entry->links[kSortedNext]) {
    for (int p = 0; p < kPlacements; ++p) {
      const TPlacementRect& rect = entry->placements[p];
      bool inside = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
      if (inside && (!best || entry->placementTimes[p] > bestTime)) {
        best = entry;
        bestTime = entry->placementTimes[p];
      }
    }
  }
  if (best) m_current = best;
  return best != nullptr;
}

void TSlideList::ClearPlacements() {
  TSlideEntry* entry = m_head;
  for (int32_t i = 0; i < Count(); ++i, entry = entry->links[kSortedNext]) {
    entry->placements.fill({});
    entry->placementTimes.fill(0);
  }
}
