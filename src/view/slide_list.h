#pragma once
// TSlideList: the active file list. File names, folders, wildcards, web
// addresses and containers go in as they are given; each such file spec is
// expanded into its members only when the list reaches it, sorted in by the
// setting SortType, and a second, random order over the same entries is kept
// beside the sorted one. The engine and the commands move through the list
// and ask it for names and captions.
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

class TProfile;

// The four ways through the list.
enum TSlideLink : int32_t { kSortedNext = 0, kRandomNext = 1, kSortedPrev = 2, kRandomPrev = 3 };

// Where an entry was drawn: left, top, right and bottom.
struct TPlacementRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

inline constexpr int kPlacements = 8;

struct TSlideEntry {
  // The sorted ring and the random ring over the same entries, indexed by
  // TSlideLink; a single entry links to itself four times.
  std::array<TSlideEntry*, 4> links{};
  // Where the entry was drawn last, newest first, with the times.
  std::array<TPlacementRect, kPlacements> placements{};
  std::array<int32_t, kPlacements> placementTimes{};
  std::string name;      // the full package name
  int32_t time = 0;      // the object's time stamp when SortType is not 0
  bool runEnd = false;   // the next member of a file spec being expanded sorts in before this mark
  int32_t typeIndex = 0; // the file-type index used when the entry is expanded
  bool patternPending = true;
  bool directoryPending = true;
  bool scanDirectory = false; // the folder of this file is to be added
  bool subdirectories = false;
  int32_t depth = 1; // trailing name components shown as the caption when CaptionSize is 0
  size_t slot = 0;   // the entry's place in the list's table, from which random anchors are drawn
};

class TSlideList {
public:
  // The list reads SortType, CaptionSize and the extension lists from the
  // settings, which must outlive it. The random order is drawn from a
  // generator seeded once from the clock.
  explicit TSlideList(const TProfile& settings);
  ~TSlideList();
  TSlideList(const TSlideList&) = delete;
  TSlideList& operator=(const TSlideList&) = delete;

  // Adds one file spec. With afterCurrent it is sorted into the run after the
  // current entry (the Open command, the members of an expanded file spec);
  // otherwise into the run that ends the list. A file spec that ends in "..."
  // includes every subdirectory.
  void Add(std::string_view fileSpec, int32_t typeIndex, bool scanDirectory, bool subdirectories, bool afterCurrent);
  // Adds each file spec of a list separated by ';' (the File spec setting,
  // a name chosen in a dialog), in order, as Add does.
  void AddList(std::string_view fileSpecs, int32_t typeIndex, bool scanDirectory, bool subdirectories,
               bool afterCurrent);
  void Clear();
  bool IsEmpty() const { return m_current == nullptr; }
  int32_t Count() const { return static_cast<int32_t>(m_entries.size()); }
  TSlideEntry* Head() const { return m_head; }
  TSlideEntry* Current() const { return m_current; }

  // Makes sure an entry is a plain file: a folder, a wildcard pattern or a
  // container is replaced by its members. Returns the entry the list then
  // stands for in its place (nullptr when the list became empty).
  TSlideEntry* Expand(TSlideEntry* entry, bool allowDirectoryScan, bool force);
  // Moves the current entry n times along the link.
  void Step(TSlideLink link, int32_t n);
  // The current entry's name, or "No File" for an empty list.
  std::string CurrentName(bool expand);
  // The current entry's caption for CaptionSize size, or "No File".
  std::string Caption(int32_t size);
  // True for an empty list and on the last entry of the sorted order.
  bool IsLast();
  bool IsSound(std::string_view name) const;
  bool IsMovie(std::string_view name) const;
  bool NextIsSound(TSlideLink link);
  bool NextIsMovie(TSlideLink link);
  // Makes the first entry that matches the name current; false when none.
  bool SelectByName(std::string_view name);
  void MakeCurrentHead() { m_head = m_current; }
  // Takes the current entry out of the list (a file moved or deleted); the
  // entry after it becomes current.
  void RemoveCurrent() {
    if (m_current) Remove(m_current);
  }
  void RecordPlacement(const TPlacementRect& rect, int32_t time);
  // Makes current the entry drawn last at the point; false when none was.
  bool HitTest(int32_t x, int32_t y);
  void ClearPlacements();

  // "*.gif;*.giff" for a file-type index 1..15 ("*" for 15, all files).
  std::string FileTypeFilter(int32_t typeIndex) const;
  // "GIF Files" ... "All Files".
  static const char* FileTypeLabel(int32_t typeIndex);

  // Seeds the random order; tests use a fixed seed.
  void SeedRandom(uint32_t seed) { m_random.seed(seed); }

private:
  std::unique_ptr<TSlideEntry> NewEntry(std::string_view name, int32_t typeIndex, bool scanDirectory,
                                        bool subdirectories, int32_t depth) const;
  TSlideEntry* Place(std::unique_ptr<TSlideEntry> entry, TSlideEntry* anchor, bool unsorted);
  int Compare(const TSlideEntry& newEntry, const TSlideEntry& entry) const;
  TSlideEntry* Remove(TSlideEntry* entry);
  void ListInto(TSlideEntry* entry, const std::string& target, const std::string& pattern, bool& cancelled);
  bool HasExtension(std::string_view name, int firstList, int lists) const;

  const TProfile& m_settings;
  TSlideEntry* m_head = nullptr;
  TSlideEntry* m_current = nullptr;
  // Every entry, in no order, so that a random anchor is drawn at once.
  std::vector<TSlideEntry*> m_entries;
  std::mt19937 m_random;
};
