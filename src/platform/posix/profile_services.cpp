// The profile services of platform.h on Linux, over the engine's own parser and file
// layer.
//
// File names are UTF-16 and reach the OS as WTF-8 (every name has a distinct byte
// form). A relative name is taken against the current directory at the time of the
// call; Windows would look for it in its own directory instead, but the library passes
// full paths.
//
// Outside a run every call stands alone: a read parses the file, a change is applied at
// once. Within a run a file is parsed once and kept while its device, inode, size and
// modification time stay the same; changes are collected, reflected in the kept copy
// (deletions in one go at the copy's next use), and applied at the end of the run to
// the file's content as it is then: the kept copy is written out when the file still
// holds the bytes it was parsed from, otherwise the file is parsed again and the changes
// replayed on it.
//
// When the identity is checked within a run (each check is a stat(), about a microsecond
// and the largest cost of a large report when made on every read): on every listing of
// the sections, every written value, and every read except one that continues the batch
// of the read before it, that is, reads another key of the same section of the same file
// with no other call in between. A session's keys are read as one batch, so each session
// costs one check and its values come from one version of the file. Reading a key again
// starts a new batch. A deletion checks nothing: it is applied at the end of the run to
// the file as it is then, and the next check reparses the file with it.
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/profile_file.h"
#include "platform/posix/profile_parser.h"
#include "platform/posix/profile_run.h"
#include "platform/posix/text_encoding.h"

namespace psrl::platform {
namespace posix {
namespace {

// One change of a run. A report deletes every section it delivers, so a run may record
// as many changes as the store has sessions: a deletion holds only the section's name.
struct Change {
  struct Write {
    std::u16string key;
    std::u16string value;
  };
  std::u16string section;
  std::unique_ptr<Write> write;  // nothing for a deletion

  bool deletion() const { return write == nullptr; }
};

struct CachedFile {
  FileIdentity identity;
  std::optional<ProfileDocument> document;  // nothing: parse again at next use
  std::vector<Change> changes;              // in call order, not yet in the file
  // changes[firstPending...] are deletions not yet made in `document`: they are made all
  // at once at its next use (see ApplyPendingDeletions).
  size_t firstPending = 0;
};

// The reads since the last identity check, while they all concern one section of one file.
struct ReadBatch {
  const CachedFile* file = nullptr;  // none: the next read checks
  std::u16string section;
  ProfileDocument::SectionHandle found = ProfileDocument::kNoSection;
  // The keys read so far; only the first keyCount entries count (their storage is
  // reused from batch to batch).
  std::vector<std::u16string> keys;
  size_t keyCount = 0;

  bool Continues(const CachedFile& cached, std::u16string_view readSection,
                 std::u16string_view readKey) const {
    return file == &cached && section == readSection &&
           std::find(keys.begin(), keys.begin() + static_cast<ptrdiff_t>(keyCount), readKey) ==
               keys.begin() + static_cast<ptrdiff_t>(keyCount);
  }
  void Start(std::u16string_view readSection, ProfileDocument::SectionHandle handle) {
    section.assign(readSection);
    found = handle;
    keyCount = 0;
  }
  void AddKey(std::u16string_view key) {
    if (keyCount < keys.size()) {
      keys[keyCount].assign(key);
    } else {
      keys.emplace_back(key);
    }
    ++keyCount;
  }
};

struct Engine {
  std::mutex mutex;
  unsigned runDepth = 0;
  std::unordered_map<std::string, CachedFile> files;  // by absolute path
  ReadBatch batch;
  std::u16string value;  // the last value read, its storage reused
  // The last absolute file name converted, to spare the conversion on repeated calls.
  std::u16string lastName;
  std::string lastPath;
  CachedFile* lastFile = nullptr;  // lastPath's entry in `files`, once looked up
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

std::optional<std::string> OsPath(const char16_t* file) {
  if (file == nullptr || *file == 0) {
    return std::nullopt;
  }
  return AbsoluteProfilePath(EncodeUtf8(file));
}

// Whether the zero-terminated `name` equals `known`, without measuring `name` first.
// `known` has no zero inside, so a shorter `name` differs at its terminator.
bool SameName(const std::u16string& known, const char16_t* name) {
  const char16_t* expected = known.c_str();
  for (size_t i = 0;; ++i) {
    if (name[i] != expected[i]) return false;
    if (name[i] == 0) return true;
  }
}

// OsPath under the engine's lock, remembering the last absolute name. A relative name
// depends on the current directory, so it is converted every time.
const std::string* EnginePath(Engine& engine, const char16_t* file,
                              std::optional<std::string>& storage) {
  if (file != nullptr && *file == u'/' && SameName(engine.lastName, file)) {
    return &engine.lastPath;
  }
  storage = OsPath(file);
  if (!storage) {
    return nullptr;
  }
  if (*file == u'/') {
    engine.lastName.clear();  // stays empty if the copy below fails
    engine.lastFile = nullptr;
    engine.lastPath = *storage;
    engine.lastName = file;
  }
  return &*storage;
}

// The run's entry for `path`; the entry of the last absolute name is remembered, since
// a report asks for the same file again and again.
CachedFile& RunFile(Engine& engine, const std::string& path) {
  if (&path == &engine.lastPath && engine.lastFile != nullptr) {
    return *engine.lastFile;
  }
  CachedFile& cached = engine.files[path];
  if (&path == &engine.lastPath) {
    engine.lastFile = &cached;
  }
  return cached;
}

void Apply(ProfileDocument& document, const Change& change) {
  if (change.deletion()) {
    document.DeleteSection(change.section);
  } else {
    document.SetValue(change.section, change.write->key, change.write->value);
  }
}

ProfileDocument Parse(FileContent content) {
  if (content.state != FileState::kRead) {
    return {};
  }
  return ProfileDocument(std::move(content.bytes));
}

// Makes the deletions recorded since the copy was last used, in one go: a report deletes
// every session it delivered, one call each, and made together they take one pass over
// the sections instead of a lookup each. A deletion that finds no section is forgotten,
// as RecordChange forgets a change that changes nothing.
void ApplyPendingDeletions(CachedFile& cached) {
  if (!cached.document || cached.firstPending >= cached.changes.size()) {
    cached.firstPending = cached.changes.size();
    return;
  }
  const auto pending = cached.changes.begin() + static_cast<ptrdiff_t>(cached.firstPending);
  try {
    std::vector<std::u16string_view> names;
    names.reserve(static_cast<size_t>(cached.changes.end() - pending));
    for (auto change = pending; change != cached.changes.end(); ++change) {
      names.emplace_back(change->section);
    }
    const std::vector<bool> deleted = cached.document->DeleteSections(names);
    size_t kept = cached.firstPending;
    for (size_t i = 0; i < deleted.size(); ++i) {
      const size_t at = cached.firstPending + i;
      if (!deleted[i]) {
        continue;
      }
      if (kept != at) {
        cached.changes[kept] = std::move(cached.changes[at]);
      }
      ++kept;
    }
    cached.changes.erase(cached.changes.begin() + static_cast<ptrdiff_t>(kept),
                         cached.changes.end());
  } catch (...) {
    // The copy may be half changed; the next use parses it again with every change.
    cached.document.reset();
    cached.firstPending = cached.changes.size();
    throw;
  }
  cached.firstPending = cached.changes.size();
}

// The parsed copy of `path` for this run, parsed again (with the run's changes) when the
// file is no longer the one that was parsed. `check` false takes a copy already parsed
// as it is.
ProfileDocument& RunDocument(Engine& engine, const std::string& path, bool check = true) {
  CachedFile& cached = RunFile(engine, path);
  ApplyPendingDeletions(cached);
  if (cached.document && !check) {
    return *cached.document;
  }
  const FileIdentity now = ProfileFileIdentity(path);
  if (cached.document && cached.identity == now) {
    return *cached.document;
  }
  cached.document.reset();
  FileContent content = ReadProfileFile(path);
  const FileIdentity identity = content.state == FileState::kRead ? content.identity : now;
  ProfileDocument document = Parse(std::move(content));
  for (const Change& change : cached.changes) {
    Apply(document, change);
  }
  cached.document.emplace(std::move(document));
  cached.identity = identity;
  cached.firstPending = cached.changes.size();
  return *cached.document;
}

// Applies `changes` in order to the file's current content, under its lock. `runCopy`,
// when given, is the run's parsed copy with these changes made: when the file still holds
// the bytes it was parsed from, it is written out as it is, without reading the file into
// a second copy or parsing it again. Otherwise it is dropped first, so that two parsed
// copies never coexist.
bool ApplyChanges(const std::string& path, const std::vector<Change>& changes,
                  std::optional<ProfileDocument>* runCopy = nullptr) {
  std::optional<std::string_view> known;
  if (runCopy != nullptr && *runCopy) {
    known = (*runCopy)->ParsedBytes();
  }
  std::optional<ProfileDocument> reparsed;
  const auto change = [&](const FileContent& current, ContentPieces& content) {
    const ProfileDocument* document = nullptr;
    if (current.matchesKnown) {
      document = &**runCopy;
    } else {
      if (runCopy != nullptr) {
        runCopy->reset();
      }
      reparsed.emplace(Parse(current));
      for (const Change& recorded : changes) {
        Apply(*reparsed, recorded);
      }
      document = &*reparsed;
    }
    if (!document->changed()) {
      return false;
    }
    content = document->SerializedPieces();
    return true;
  };
  return UpdateProfileFile(path, change, known ? &*known : nullptr);
}

// A read within a run, into engine.value: the identity is checked unless the read
// continues the batch, which also reuses the section found by the batch's first read.
bool ReadInRun(Engine& engine, const std::string& path, std::u16string_view section,
               std::u16string_view key) {
  ReadBatch& batch = engine.batch;
  CachedFile& cached = RunFile(engine, path);
  if (cached.document && batch.Continues(cached, section, key)) {
    batch.AddKey(key);
    return cached.document->ReadValue(batch.found, key, engine.value);
  }
  batch.file = nullptr;  // until the batch below is complete
  const ProfileDocument& document = RunDocument(engine, path);
  // A report reads the sessions in file order: the section after the batch before is
  // the likely one.
  const ProfileDocument::SectionHandle hint =
      batch.found == ProfileDocument::kNoSection ? batch.found : batch.found + 1;
  const ProfileDocument::SectionHandle found = document.FindSection(section, hint);
  const bool present = document.ReadValue(found, key, engine.value);
  batch.Start(section, found);
  batch.AddKey(key);
  batch.file = &cached;
  return present;
}

// Calls `use` with the value of `key` (nothing when it is missing), under the engine's
// lock: the value lives in the engine's storage until the next read.
template <typename Use>
auto WithValue(const char16_t* section, const char16_t* key, const char16_t* file, Use use) {
  Engine& engine = TheEngine();
  std::lock_guard lock(engine.mutex);
  std::optional<std::string> storage;
  const std::string* path = EnginePath(engine, file, storage);
  if (path == nullptr) {
    return use(std::optional<std::u16string_view>());
  }
  bool present = false;
  if (engine.runDepth > 0) {
    try {
      present = ReadInRun(engine, *path, section, key);
    } catch (...) {
      engine.batch.file = nullptr;
      throw;
    }
  } else {
    const ProfileDocument document = Parse(ReadProfileFile(*path));
    present = document.ReadValue(document.FindSection(section), key, engine.value);
  }
  return use(present ? std::optional<std::u16string_view>(engine.value) : std::nullopt);
}

// Records `change` for the end of the run and reflects it in the run's copy: a written
// value at once, a deletion at the copy's next use (ApplyPendingDeletions). A change that
// changes nothing in the copy is forgotten (a section that is not there is not deleted
// later either: another writer may have added one of that name meanwhile). False when a
// written value changed nothing; a deletion always reports true.
bool RecordChange(Engine& engine, const std::string& path, Change change) {
  engine.batch.file = nullptr;
  CachedFile& cached = RunFile(engine, path);
  if (change.deletion()) {
    // Made in the copy at its next use, with the other deletions recorded until then.
    if (!cached.document) {
      RunDocument(engine, path, false);
    }
    cached.changes.push_back(std::move(change));
    return true;
  }
  ProfileDocument& document = RunDocument(engine, path);
  cached.changes.push_back(std::move(change));
  bool changed = false;
  try {
    const Change& added = cached.changes.back();
    changed = document.SetValue(added.section, added.write->key, added.write->value);
  } catch (...) {
    // The copy may be half changed; the next use parses it again with every change.
    cached.document.reset();
    throw;
  }
  if (!changed) {
    cached.changes.pop_back();
  }
  cached.firstPending = cached.changes.size();
  return changed;
}

}  // namespace

void ProfileBeginRun() {
  try {
    Engine& engine = TheEngine();
    std::lock_guard lock(engine.mutex);
    if (engine.runDepth++ == 0) {
      engine.batch.file = nullptr;
      engine.lastFile = nullptr;
      engine.files.clear();
    }
  } catch (...) {
    // Without a run every call stands alone, which is slower but correct.
  }
}

void ProfileEndRun() noexcept {
  try {
    Engine& engine = TheEngine();
    std::lock_guard lock(engine.mutex);
    if (engine.runDepth == 0 || --engine.runDepth > 0) {
      return;
    }
    engine.batch = {};
    engine.lastFile = nullptr;
    std::unordered_map<std::string, CachedFile> files;
    files.swap(engine.files);
    for (auto& [path, cached] : files) {
      try {
        ApplyPendingDeletions(cached);
      } catch (...) {
        // The copy is gone; the changes are replayed on the file's content below.
      }
      if (cached.changes.empty()) {
        cached.document.reset();
        continue;
      }
      try {
        // A failure leaves the file as it was: its sessions are reported again.
        ApplyChanges(path, cached.changes, &cached.document);
      } catch (...) {
        // As above: the file stays intact.
      }
      cached.document.reset();
    }
  } catch (...) {
    // EndRun never throws; whatever was not applied leaves its file intact.
  }
}

}  // namespace posix

uint32_t ProfileReadInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                        const char16_t* file) {
  if (section == nullptr || key == nullptr) {
    return static_cast<uint32_t>(defaultValue);
  }
  try {
    return posix::WithValue(section, key, file, [&](std::optional<std::u16string_view> value) {
      return posix::ProfileIntFromValue(value, defaultValue);
    });
  } catch (...) {
    return static_cast<uint32_t>(defaultValue);
  }
}

uint32_t ProfileReadString(const char16_t* section, const char16_t* key,
                           const char16_t* defaultValue, char16_t* buffer, uint32_t size,
                           const char16_t* file) {
  const std::u16string_view fallback = posix::ProfileDefaultText(defaultValue);
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  if (section == nullptr || key == nullptr) {
    return posix::CopyProfileValue(fallback, buffer, size);
  }
  try {
    return posix::WithValue(section, key, file, [&](std::optional<std::u16string_view> value) {
      return posix::CopyProfileValue(value.value_or(fallback), buffer, size);
    });
  } catch (...) {
    return posix::CopyProfileValue(fallback, buffer, size);
  }
}

uint32_t ProfileListSections(char16_t* buffer, uint32_t size, const char16_t* file) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  try {
    posix::Engine& engine = posix::TheEngine();
    std::lock_guard lock(engine.mutex);
    std::optional<std::string> storage;
    const std::string* path = posix::EnginePath(engine, file, storage);
    if (path == nullptr) {
      return posix::ProfileDocument().ListSectionNames(buffer, size);
    }
    if (engine.runDepth > 0) {
      engine.batch.file = nullptr;
      return posix::RunDocument(engine, *path).ListSectionNames(buffer, size);
    }
    return posix::Parse(posix::ReadProfileFile(*path)).ListSectionNames(buffer, size);
  } catch (...) {
    buffer[0] = 0;
    return 0;
  }
}

bool ProfileDeleteSection(const char16_t* section, const char16_t* file) {
  if (section == nullptr) {
    return false;
  }
  try {
    posix::Engine& engine = posix::TheEngine();
    std::lock_guard lock(engine.mutex);
    std::optional<std::string> storage;
    const std::string* path = posix::EnginePath(engine, file, storage);
    if (path == nullptr) {
      return false;
    }
    posix::Change change{.section = section, .write = nullptr};
    if (engine.runDepth > 0) {
      posix::RecordChange(engine, *path, std::move(change));
      return true;  // a section that is not there is deleted already
    }
    std::vector<posix::Change> changes;
    changes.push_back(std::move(change));
    return posix::ApplyChanges(*path, changes);
  } catch (...) {
    return false;
  }
}

bool ProfileWriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                        const char16_t* file) {
  if (section == nullptr || key == nullptr || value == nullptr ||
      !posix::ProfileDocument::IsWritable(section, key, value)) {
    return false;
  }
  try {
    posix::Engine& engine = posix::TheEngine();
    std::lock_guard lock(engine.mutex);
    std::optional<std::string> storage;
    const std::string* path = posix::EnginePath(engine, file, storage);
    if (path == nullptr) {
      return false;
    }
    posix::Change change{
        .section = section,
        .write = std::make_unique<posix::Change::Write>(posix::Change::Write{key, value})};
    if (engine.runDepth > 0) {
      return posix::RecordChange(engine, *path, std::move(change));
    }
    std::vector<posix::Change> changes;
    changes.push_back(std::move(change));
    return posix::ApplyChanges(*path, changes);
  } catch (...) {
    return false;
  }
}

}  // namespace psrl::platform
