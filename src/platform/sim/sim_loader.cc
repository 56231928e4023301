// Reads machine.json into a SimModel. Every problem is refused with the
// JSON path where it was found, so a fixture author can fix it at once.
//
// The description is read once into values, which the model then takes
// over (moved, not copied); a JSON path is put into words only for an
// error. Sector files are read when a command first asks for one: a
// machine of thousands of disks loads without opening any, and a file that
// cannot be read, or has the wrong size, fails the command that reads it,
// with the same words the load would have used.
#include "platform/sim/sim_loader.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "core/text.h"
#include "platform/sim/sim_format.h"
#include "sentrel/keys.h"
#include "sentrel/value_io.h"

namespace sentrel::sim {

namespace {

// Where a value is in the description, as steps kept on the stack; its
// words ("$.disks[3].ancestors[1].ata") are made only when asked for.
class Path {
 public:
  Path() = default;  // "$"
  Path operator/(std::string_view key) const { return Path(this, key, 0); }
  Path operator[](std::size_t index) const { return Path(this, {}, index + 1); }

  std::string text() const {
    const Path* steps[kDeepest];
    std::size_t depth = 0;
    for (const Path* p = this; p->parent_ && depth < kDeepest; p = p->parent_) steps[depth++] = p;
    std::string out = "$";
    out.reserve(64);
    while (depth > 0) {
      const Path& step = *steps[--depth];
      if (step.index_) {
        out += '[';
        out += std::to_string(step.index_ - 1);
        out += ']';
      } else {
        out += '.';
        out += step.key_;
      }
    }
    return out;
  }

 private:
  Path(const Path* parent, std::string_view key, std::size_t index)
      : parent_(parent), key_(key), index_(index) {}

  static constexpr std::size_t kDeepest = 16;  // deeper than any path of the format

  const Path* parent_ = nullptr;
  std::string_view key_;
  std::size_t index_ = 0;  // 1 + the index of an array step; 0 for a key
};

struct LoadFailure {
  std::string path;
  std::string message;
};

class Loader {
 public:
  Loader(SimModel& model, platform::Files& files, const std::string& fileName)
      : model_(model), files_(files), fileName_(fileName) {}

  void load(Value& root) {
    const Path top;
    Dict& d = dict(root, top);
    onlyKeys(d, top,
             {format::kSystemVersion, "diskArbitrationFails", format::kHost, format::kExtensions,
              "userDefaults", format::kDisks, "mounts", "statfs", "tools", "downloads"});
    if (auto* v = d.find("downloads")) {
      const Path p = top / "downloads";
      for (const auto& e : dict(*v, p)) {
        if (e.value.isNull()) {
          model_.downloads[e.key] = std::nullopt;
        } else {
          model_.downloads[e.key] = inside(e.value, p / e.key);
        }
      }
    }
    if (auto* v = d.find(format::kSystemVersion))
      model_.systemVersion = string(*v, top / format::kSystemVersion);
    if (auto* v = d.find("diskArbitrationFails"))
      model_.diskArbitrationFails = boolean(*v, top / "diskArbitrationFails");
    model_.home = model_.folder + "/home";
    if (auto* v = d.find(format::kHost)) host(*v, top / format::kHost);
    homeStaysInside(top / format::kHost / "home");
    if (auto* v = d.find(format::kExtensions)) extensions(*v, top / format::kExtensions);
    if (auto* v = d.find("userDefaults"))
      model_.userDefaults = std::move(dict(*v, top / "userDefaults"));
    if (auto* v = d.find(format::kDisks)) {
      const Path p = top / format::kDisks;
      Array& disks = array(*v, p);
      model_.nodes.reserve(disks.size() * 3);
      for (std::size_t i = 0; i < disks.size(); ++i) disk(disks[i], p[i]);
    }
    // Statistics take their defaults from the mount table, so it comes first.
    if (auto* v = d.find("mounts")) mounts(*v, top / "mounts");
    if (auto* v = d.find("statfs")) statfs(*v, top / "statfs");
    if (auto* v = d.find("tools")) tools(*v, top / "tools");
  }

 private:
  [[noreturn]] void fail(const Path& path, const std::string& message) {
    throw LoadFailure{path.text(), message};
  }

  // Refuses keys the format does not know, so a misspelt key is reported
  // instead of silently leaving something out.
  void onlyKeys(const Dict& d, const Path& path, std::initializer_list<std::string_view> known) {
    for (const auto& e : d) {
      if (std::find(known.begin(), known.end(), e.key) == known.end())
        fail(path / e.key, "unknown key");
    }
  }

  // A number written as text: decimal, or hex after "0x".
  std::optional<std::uint64_t> numberText(const std::string& s) {
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    std::string_view digits(s);
    if (hex) digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 16) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : digits) {
      int d = c >= '0' && c <= '9'          ? c - '0'
              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                            : -1;
      if (d < 0) return std::nullopt;
      if (!hex && n > (UINT64_MAX - 9) / 10) return std::nullopt;
      n = n * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    }
    return n;
  }

  const Dict& dict(const Value& v, const Path& path) {
    if (!v.ifDict()) fail(path, std::string("expected a dictionary, found ") + kindName(v.kind()));
    return *v.ifDict();
  }
  Dict& dict(Value& v, const Path& path) { return const_cast<Dict&>(dict(std::as_const(v), path)); }
  const Array& array(const Value& v, const Path& path) {
    if (!v.ifArray()) fail(path, std::string("expected an array, found ") + kindName(v.kind()));
    return *v.ifArray();
  }
  Array& array(Value& v, const Path& path) {
    return const_cast<Array&>(array(std::as_const(v), path));
  }
  const std::string& string(const Value& v, const Path& path) {
    if (!v.ifString()) fail(path, std::string("expected a string, found ") + kindName(v.kind()));
    return *v.ifString();
  }
  bool boolean(const Value& v, const Path& path) {
    if (!v.ifBool()) fail(path, std::string("expected true or false, found ") + kindName(v.kind()));
    return *v.ifBool();
  }
  std::int64_t integer(const Value& v, const Path& path) {
    auto i = v.toInt();
    if (!i) fail(path, std::string("expected an integer, found ") + kindName(v.kind()));
    return *i;
  }
  std::uint16_t word(const Value& v, const Path& path) {
    std::int64_t i = integer(v, path);
    if (i < 0 || i > 0xFFFF) fail(path, "expected a number from 0 to 65535");
    return static_cast<std::uint16_t>(i);
  }
  bool flag(const Dict& d, std::string_view key, const Path& path) {
    const Value* v = d.find(key);
    return v && boolean(*v, path / key);
  }

  // A status may be written as a number or as hex text ("0xE00002C7").
  Status status(const Value& v, const Path& path) {
    if (const std::string* s = v.ifString()) {
      auto bits = numberText(*s);
      if (bits && *bits <= 0xFFFFFFFFull)
        return platform::statusFromBits(static_cast<std::uint32_t>(*bits));
      fail(path, "expected a 32-bit status such as 0 or \"0xE00002C7\", found \"" + *s + "\"");
    }
    std::int64_t i = integer(v, path);
    if (i < INT32_MIN || i > 0xFFFFFFFFll) fail(path, "status out of 32-bit range");
    return platform::statusFromBits(static_cast<std::uint32_t>(i));
  }
  // A file or folder the description names, which must lie inside the
  // machine folder: a folder someone else sent may not reach the user's own
  // files, neither by an absolute path nor by "..".
  std::string inside(const Value& v, const Path& path) {
    const std::string& s = string(v, path);
    if (s.empty()) fail(path, "expected a path inside the machine folder, found \"\"");
    if (s.find('\0') != std::string::npos) fail(path, "a path holds no NUL character");
    if (s.front() == '/')
      fail(path, "\"" + s + "\" is an absolute path; paths are relative to the machine folder");
    for (std::size_t start = 0; start <= s.size();) {
      std::size_t end = std::min(s.find('/', start), s.size());
      if (s.compare(start, end - start, "..") == 0)
        fail(path, "\"" + s + "\" leads out of the machine folder (\"..\")");
      start = end + 1;
    }
    return model_.folder + "/" + s;
  }

  // The host's names become a folder of the storage path
  // (HOME/Library/Application Support/NAME/driveDatabase): one plain
  // component.
  std::string folderName(const Value& v, const Path& path) {
    const std::string& s = string(v, path);
    if (s.find('/') != std::string::npos || s.find('\0') != std::string::npos || s == "." ||
        s == "..")
      fail(path, "\"" + s + "\" names a folder of the storage path: no \"/\", \".\" or \"..\"");
    return s;
  }

  // Everything the library writes lands below the home folder, so neither
  // the home folder nor anything in it may lead out of the machine folder
  // through a symbolic link.
  void homeStaysInside(const Path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::canonical(model_.folder, ec);
    if (ec) return;  // the folder itself is gone: nothing will be written there
    const fs::path home = fs::weakly_canonical(model_.home, ec);
    if (ec || !text::isAtOrBelow(home.string(), folder.string()))
      fail(path, "the home folder " + model_.home +
                     " leads out of the machine folder through a symbolic link");
    if (!fs::is_directory(home, ec)) return;
    for (fs::recursive_directory_iterator it(home, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_symlink(ec))
        fail(path, "the home folder holds a symbolic link, " + it->path().string() +
                       "; what the machine writes must stay in its folder");
    }
  }

  void host(Value& v, const Path& path) {
    Dict& h = dict(v, path);
    onlyKeys(h, path,
             {format::kBundleName, format::kBundleIdentifier, format::kUserName, "home",
              format::kResources, "localizedStrings"});
    if (auto* x = h.find(format::kBundleName))
      model_.bundleName = folderName(*x, path / format::kBundleName);
    if (auto* x = h.find(format::kBundleIdentifier))
      model_.bundleIdentifier = folderName(*x, path / format::kBundleIdentifier);
    if (auto* x = h.find(format::kUserName)) model_.userName = string(*x, path / format::kUserName);
    if (auto* x = h.find("home")) model_.home = inside(*x, path / "home");
    if (auto* x = h.find(format::kResources))
      model_.resources = inside(*x, path / format::kResources);
    if (auto* x = h.find("localizedStrings")) {
      const Path strings = path / "localizedStrings";
      for (const auto& table : dict(*x, strings)) {
        const Path tablePath = strings / table.key;
        auto& out = model_.localizedStrings[table.key];
        for (const auto& e : dict(table.value, tablePath))
          out[e.key] = string(e.value, tablePath / e.key);
      }
    }
  }

  void extensions(Value& v, const Path& path) {
    Array& list = array(v, path);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Path p = path[i];
      Dict& e = dict(list[i], p);
      onlyKeys(e, p, {format::kFolder, format::kBundleIdentifier, format::kImages});
      SimExtension ext;
      const Value* folder = e.find(format::kFolder);
      if (!folder) fail(p, "missing \"folder\"");
      ext.folder = string(*folder, p / format::kFolder);
      if (auto* x = e.find(format::kBundleIdentifier))
        ext.bundleIdentifier = string(*x, p / format::kBundleIdentifier);
      if (auto* x = e.find(format::kImages)) {
        const Path imagesPath = p / format::kImages;
        const Array& images = array(*x, imagesPath);
        for (std::size_t k = 0; k < images.size(); ++k)
          ext.images.push_back(string(images[k], imagesPath[k]));
      }
      model_.extensions.push_back(std::move(ext));
    }
  }

  std::uint64_t count(const Value& v, const Path& path) {
    auto n = v.toUInt();
    if (!n) fail(path, "expected a whole number from 0 to 18446744073709551615");
    return *n;
  }

  void mounts(Value& v, const Path& path) {
    Array& list = array(v, path);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Path p = path[i];
      const Dict& m = dict(list[i], p);
      onlyKeys(m, p, {"from", "on", "type"});
      const Value* on = m.find("on");
      if (!on) fail(p, "missing \"on\"");
      platform::MountEntry entry;
      entry.on = string(*on, p / "on");
      if (auto* x = m.find("from")) entry.from = string(*x, p / "from");
      if (auto* x = m.find("type")) entry.type = string(*x, p / "type");
      model_.mounts.push_back(std::move(entry));
    }
  }

  void statfs(Value& v, const Path& path) {
    for (const auto& e : dict(v, path)) {
      const Path p = path / e.key;
      if (e.key.empty() || e.key.front() != '/') fail(p, "a statistics path is absolute");
      const Dict& d = dict(e.value, p);
      onlyKeys(d, p,
               {"blockSize", "blocks", "freeBlocks", "availableBlocks", "type", "from", "on"});
      platform::FileSystemStats stats;
      stats.on = e.key;
      for (const auto& m : model_.mounts) {
        if (m.on == e.key) {
          stats.from = m.from;
          stats.type = m.type;
        }
      }
      if (auto* x = d.find("blockSize")) stats.blockSize = count(*x, p / "blockSize");
      if (auto* x = d.find("blocks")) stats.blocks = count(*x, p / "blocks");
      if (auto* x = d.find("freeBlocks")) stats.freeBlocks = count(*x, p / "freeBlocks");
      stats.availableBlocks = stats.freeBlocks;
      if (auto* x = d.find("availableBlocks"))
        stats.availableBlocks = count(*x, p / "availableBlocks");
      if (auto* x = d.find("type")) stats.type = string(*x, p / "type");
      if (auto* x = d.find("from")) stats.from = string(*x, p / "from");
      if (auto* x = d.find("on")) stats.on = string(*x, p / "on");
      model_.statfs[e.key] = std::move(stats);
    }
  }

  void tools(Value& v, const Path& path) {
    Array& list = array(v, path);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Path p = path[i];
      const Dict& t = dict(list[i], p);
      onlyKeys(t, p, {"tool", "arguments", "stdout", "stdoutFile"});
      SimTool tool;
      const Value* name = t.find("tool");
      if (!name) fail(p, "missing \"tool\"");
      tool.tool = string(*name, p / "tool");
      if (tool.tool.empty() || tool.tool.front() != '/')
        fail(p / "tool", "a tool path is absolute");
      if (auto* x = t.find("arguments")) {
        const Path argumentsPath = p / "arguments";
        const Array& args = array(*x, argumentsPath);
        for (std::size_t k = 0; k < args.size(); ++k)
          tool.arguments.push_back(string(args[k], argumentsPath[k]));
      }
      const Value* out = t.find("stdout");
      const Value* file = t.find("stdoutFile");
      if (out && file) fail(p, "give \"stdout\" or \"stdoutFile\", not both");
      if (out) {
        if (const Data* bytes = out->ifData()) {
          tool.output.assign(bytes->begin(), bytes->end());
        } else {
          tool.output = string(*out, p / "stdout");
        }
      }
      if (file) {
        std::string fileName = inside(*file, p / "stdoutFile");
        platform::Failure error;
        auto bytes = files_.readFile(fileName, &error);
        if (!bytes) fail(p / "stdoutFile", "cannot read output file " + error.message());
        tool.output = std::move(*bytes);
      }
      model_.tools.push_back(std::move(tool));
    }
  }

  // Entries are numbered in creation order, unless the description gives an
  // entry's format::kHandle (a captured drive keeps the numbers of the machine it
  // was read from). Numbers skipped that way name nothing.
  RegistryEntry addNode(SimNode node, const Dict& d, const Path& path) {
    const Value* given = d.find(format::kHandle);
    if (!given) {
      model_.nodes.push_back(std::move(node));
      return static_cast<RegistryEntry>(model_.nodes.size());
    }
    const Path handlePath = path / format::kHandle;
    std::int64_t h = integer(*given, handlePath);
    if (h < 1 || h > 1'000'000) fail(handlePath, "expected a number from 1 to 1000000");
    auto index = static_cast<std::size_t>(h - 1);
    if (index < model_.nodes.size() && !model_.nodes[index].placeholder)
      fail(handlePath, "handle " + std::to_string(h) + " is already taken");
    while (model_.nodes.size() <= index) {
      SimNode free;
      free.placeholder = true;
      model_.nodes.push_back(std::move(free));
    }
    model_.nodes[index] = std::move(node);
    return static_cast<RegistryEntry>(h);
  }

  void link(RegistryEntry child, RegistryEntry parent) {
    model_.nodes[child - 1].parent = parent;
    if (parent) model_.nodes[parent - 1].children.push_back(child);
  }

  void disk(Value& v, const Path& path) {
    Dict& d = dict(v, path);
    onlyKeys(d, path,
             {format::kHandle, format::kDescription, format::kProperties, format::kNoDisk,
              format::kDescendants, format::kAncestors});
    SimNode medium;
    medium.className = "IOMedia";
    if (auto* x = d.find(format::kProperties))
      medium.properties = std::move(dict(*x, path / format::kProperties));
    if (!medium.properties.contains(keys::kWhole)) medium.properties.set(keys::kWhole, true);
    Dict description;
    if (auto* x = d.find(format::kDescription))
      description = std::move(dict(*x, path / format::kDescription));
    medium.name = description.stringOr(keys::kDAMediaName, "Media");
    // The partitions take the whole disk's content from its description.
    const Value* content = description.find(keys::kDAMediaContent);
    std::optional<Value> wholeContent;
    if (content) wholeContent = *content;
    if (!flag(d, format::kNoDisk, path)) medium.description = std::move(description);
    RegistryEntry mediumHandle = addNode(std::move(medium), d, path);
    model_.wholeMedia.push_back(mediumHandle);

    if (auto* x = d.find(format::kAncestors))
      ancestors(*x, path / format::kAncestors, mediumHandle);
    if (auto* x = d.find(format::kDescendants))
      descendants(*x, path / format::kDescendants, mediumHandle, wholeContent);
  }

  // Ancestors come parent first, up to the root. An ancestor with an "id"
  // that an earlier disk declared is that same entry: the chain joins it.
  void ancestors(Value& v, const Path& path, RegistryEntry medium) {
    Array& list = array(v, path);
    RegistryEntry child = medium;
    std::set<std::string> idsOfThisDisk;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Path p = path[i];
      Dict& a = dict(list[i], p);
      onlyKeys(a, p,
               {"id", format::kHandle, format::kName, format::kClass, format::kProperties,
                format::kAta, format::kNvme});
      std::string id;
      if (auto* x = a.find("id")) id = string(*x, p / "id");
      if (!id.empty()) {
        if (!idsOfThisDisk.insert(id).second)
          fail(p / "id", "\"" + id + "\" stands twice in one chain of ancestors");
        auto known = sharedAncestors_.find(id);
        if (known != sharedAncestors_.end()) {
          link(child, known->second);
          return;
        }
      }
      SimNode node;
      if (auto* x = a.find(format::kName)) node.name = string(*x, p / format::kName);
      if (auto* x = a.find(format::kClass)) node.className = string(*x, p / format::kClass);
      if (auto* x = a.find(format::kProperties))
        node.properties = std::move(dict(*x, p / format::kProperties));
      if (auto* x = a.find(format::kAta)) node.ata = ata(*x, p / format::kAta);
      if (auto* x = a.find(format::kNvme)) node.nvme = nvme(*x, p / format::kNvme);
      RegistryEntry handle = addNode(std::move(node), a, p);
      if (!id.empty()) sharedAncestors_[id] = handle;
      link(child, handle);
      child = handle;
    }
  }

  void descendants(Value& v, const Path& path, RegistryEntry medium,
                   const std::optional<Value>& wholeContent) {
    Array& list = array(v, path);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Path p = path[i];
      Dict& d = dict(list[i], p);
      onlyKeys(d, p, {format::kHandle, format::kProperties, format::kVolumeName, format::kNoDisk});
      SimNode node;
      node.className = "IOMedia";
      if (auto* x = d.find(format::kProperties))
        node.properties = std::move(dict(*x, p / format::kProperties));
      node.name = node.properties.stringOr(keys::kBSDName, "Partition");
      if (!flag(d, format::kNoDisk, p)) {
        Dict description;
        if (const std::string* bsd = node.properties.getString(keys::kBSDName))
          description.set(keys::kDAMediaBSDName, *bsd);
        description.set(keys::kDAMediaWhole, false);
        if (wholeContent) description.set(keys::kDAMediaContent, *wholeContent);
        if (auto* x = d.find(format::kVolumeName))
          description.set(keys::kDAVolumeName, string(*x, p / format::kVolumeName));
        node.description = std::move(description);
      }
      link(addNode(std::move(node), d, p), medium);
    }
  }

  SimBuffer buffer(const Value& v, const Path& path, std::size_t size) {
    SimBuffer out;
    const Value* source = &v;
    const Path dataPath = path / "data";
    const Path* sourcePath = &path;
    if (const Dict* d = v.ifDict(); d && !d->contains("$hex")) {
      onlyKeys(*d, path, {"data", format::kStatus});
      if (auto* s = d->find(format::kStatus)) out.status = status(*s, path / format::kStatus);
      source = d->find("data");
      sourcePath = &dataPath;
      if (!source) return out;  // only a status: the command fails with it
    }
    Data bytes;
    if (const Data* data = source->ifData()) {
      bytes = *data;  // {"$data": HEX}
    } else if (const Dict* d = source->ifDict()) {
      onlyKeys(*d, *sourcePath, {"$hex"});
      const Value* hexText = d->find("$hex");
      if (!hexText)
        fail(*sourcePath, "a sector is a file name, {\"$hex\": ...} or {\"$data\": ...}");
      auto hex = fromHex(string(*hexText, *sourcePath / "$hex"));
      if (!hex) fail(*sourcePath / "$hex", "expected pairs of hex digits");
      bytes = std::move(*hex);
    } else {
      // Read when a command first asks for it; the file area reads regular
      // files only, so a device or a pipe is refused then.
      out.file = std::make_shared<SectorFile>(files_, inside(*source, *sourcePath), fileName_,
                                              sourcePath->text(), size);
      return out;
    }
    if (bytes.size() != size)
      fail(*sourcePath,
           "holds " + std::to_string(bytes.size()) + " bytes, expected " + std::to_string(size));
    out.bytes = std::move(bytes);
    return out;
  }

  std::shared_ptr<SimAta> ata(Value& v, const Path& path) {
    Dict& a = dict(v, path);
    onlyKeys(a, path,
             {format::kOpenStatuses, format::kQueryStatus, format::kEnableStatus,
              format::kSelftestStatus, format::kReportStatus, format::kThresholdExceeded,
              format::kIdentify, format::kSmartData, format::kThresholds, format::kLogs,
              format::kSelftestRun, format::kPowerMode, format::kDelayMs});
    auto out = std::make_shared<SimAta>();
    if (auto* x = a.find(format::kOpenStatuses)) {
      const Path p = path / format::kOpenStatuses;
      const Array& list = array(*x, p);
      if (list.empty()) fail(p, "needs at least one status");
      out->openStatuses.clear();
      for (std::size_t i = 0; i < list.size(); ++i)
        out->openStatuses.push_back(status(list[i], p[i]));
    }
    if (auto* x = a.find(format::kQueryStatus))
      out->queryStatus = status(*x, path / format::kQueryStatus);
    if (auto* x = a.find(format::kEnableStatus))
      out->enableStatus = status(*x, path / format::kEnableStatus);
    if (auto* x = a.find(format::kSelftestStatus))
      out->selftestStatus = status(*x, path / format::kSelftestStatus);
    if (auto* x = a.find(format::kReportStatus))
      out->reportStatus = status(*x, path / format::kReportStatus);
    if (auto* x = a.find(format::kThresholdExceeded))
      out->thresholdExceeded = boolean(*x, path / format::kThresholdExceeded);
    constexpr std::size_t kSector = platform::kSectorSize;
    if (auto* x = a.find(format::kIdentify))
      out->identify = buffer(*x, path / format::kIdentify, kSector);
    if (auto* x = a.find(format::kSmartData))
      out->smartData = buffer(*x, path / format::kSmartData, kSector);
    if (auto* x = a.find(format::kThresholds))
      out->thresholds = buffer(*x, path / format::kThresholds, kSector);
    if (auto* x = a.find(format::kLogs)) {
      const Path logsPath = path / format::kLogs;
      for (const auto& e : dict(*x, logsPath)) {
        const Path p = logsPath / e.key;
        auto address = numberText(e.key);
        if (!address || *address > 255) fail(p, "a log address is a number from 0 to 255");
        out->logs[static_cast<std::uint8_t>(*address)] = buffer(e.value, p, kSector);
      }
    }
    if (auto* x = a.find(format::kSelftestRun))
      out->selftestRun = bytesList(*x, path / format::kSelftestRun);
    if (auto* x = a.find(format::kPowerMode)) {
      const Path p = path / format::kPowerMode;
      const std::string mode = string(*x, p);
      if (mode == "active")
        out->powerModeRegister = 0xFF;
      else if (mode == "idle")
        out->powerModeRegister = 0x80;
      else if (mode == "standby")
        out->powerModeRegister = 0x00;
      else if (mode == "sleep")
        out->powerModeRegister.reset();
      else
        fail(p, "expected active, idle, standby or sleep, found \"" + mode + "\"");
    }
    if (auto* x = a.find(format::kDelayMs)) out->delay = delay(*x, path / format::kDelayMs);
    return out;
  }

  std::chrono::milliseconds delay(const Value& v, const Path& path) {
    std::int64_t ms = integer(v, path);
    if (ms < 0 || ms > 3'600'000) fail(path, "expected milliseconds from 0 to 3600000");
    return std::chrono::milliseconds(ms);
  }

  // A list of numbers from 0 to 255.
  std::vector<std::uint8_t> bytesList(const Value& v, const Path& path) {
    std::vector<std::uint8_t> out;
    if (!v.ifArray()) fail(path, std::string("expected an array, found ") + kindName(v.kind()));
    const Array& list = *v.ifArray();
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::int64_t n = integer(list[i], path[i]);
      if (n < 0 || n > 255) fail(path[i], "expected a number from 0 to 255");
      out.push_back(static_cast<std::uint8_t>(n));
    }
    return out;
  }

  std::shared_ptr<SimNvme> nvme(Value& v, const Path& path) {
    Dict& n = dict(v, path);
    onlyKeys(
        n, path,
        {format::kOpenStatus, format::kQueryStatus, format::kVersion, format::kRevision,
         format::kIdentify, format::kHealth, format::kErrorLog, format::kFirmwareLog,
         format::kSelfTestLog, format::kSelftestStatus, format::kSelfTestRun, format::kDelayMs});
    auto out = std::make_shared<SimNvme>();
    if (auto* x = n.find(format::kOpenStatus))
      out->openStatus = status(*x, path / format::kOpenStatus);
    if (auto* x = n.find(format::kQueryStatus))
      out->queryStatus = status(*x, path / format::kQueryStatus);
    if (auto* x = n.find(format::kVersion)) out->version = word(*x, path / format::kVersion);
    if (auto* x = n.find(format::kRevision)) out->revision = word(*x, path / format::kRevision);
    if (auto* x = n.find(format::kIdentify))
      out->identify = buffer(*x, path / format::kIdentify, 4096);
    if (auto* x = n.find(format::kHealth)) out->health = buffer(*x, path / format::kHealth, 512);
    if (auto* x = n.find(format::kErrorLog))
      out->errorLog = buffer(*x, path / format::kErrorLog, 4096);
    if (auto* x = n.find(format::kFirmwareLog))
      out->firmwareLog = buffer(*x, path / format::kFirmwareLog, 512);
    if (auto* x = n.find(format::kSelfTestLog))
      out->selfTestLog = buffer(*x, path / format::kSelfTestLog, 564);
    if (auto* x = n.find(format::kSelftestStatus))
      out->selftestStatus = status(*x, path / format::kSelftestStatus);
    if (auto* x = n.find(format::kSelfTestRun))
      out->selfTestRun = bytesList(*x, path / format::kSelfTestRun);
    if (auto* x = n.find(format::kDelayMs)) out->delay = delay(*x, path / format::kDelayMs);
    return out;
  }

  SimModel& model_;
  platform::Files& files_;
  const std::string& fileName_;
  std::map<std::string, RegistryEntry> sharedAncestors_;
};

}  // namespace

std::unique_ptr<SimModel> loadModel(std::string_view json, const std::string& folder,
                                    const std::string& fileName, platform::Files& files,
                                    platform::Failure* failure) {
  auto model = std::make_unique<SimModel>();
  std::error_code ec;
  auto absolute = std::filesystem::absolute(std::filesystem::path(folder), ec);
  model->folder = ec ? folder : absolute.lexically_normal().string();
  while (model->folder.size() > 1 && model->folder.back() == '/') model->folder.pop_back();

  ReadError readError;
  auto root = fromJson(json, &readError);
  if (!root) {
    if (failure)
      *failure = platform::failureOf(platform::Failure::Kind::badData, fileName, readError.text());
    return nullptr;
  }
  try {
    Loader(*model, files, fileName).load(*root);
  } catch (const LoadFailure& f) {
    if (failure)
      *failure = platform::failureOf(platform::Failure::Kind::badData, fileName,
                                     f.path + ": " + f.message);
    return nullptr;
  }
  return model;
}

}  // namespace sentrel::sim
