#include "pelt.h"

#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "convert.h"
#include "model_scan.h"
#include "names.h"
#include "plan.h"
#include "platform.h"
#include "progress.h"
#include "tga.h"

namespace pelt {

namespace {

constexpr char kUsage[] =
    "pelt usage:\n"
    "pelt filename.mix filename.kzm\n"
    "pelt takes the name of a korvane mix file (*.mix, *.dat or *.pkg) and the\n"
    "name of a kzm file and extracts all textures referenced by that kzm file\n";

constexpr char kUsageHint[] =
    "Run 'pelt --help' for the options, and 'pelt -t ARCHIVE' to see what an archive holds.\n";

constexpr char kOptionsHelp[] =
    "\n"
    "usage: pelt [OPTIONS] ARCHIVE MODEL [MODEL...]\n"
    "       pelt -t [OPTIONS] ARCHIVE [ARCHIVE...]\n"
    "       pelt -x PATTERN [OPTIONS] ARCHIVE [ARCHIVE...]\n"
    "Each texture the models refer to comes from the first archive that holds it:\n"
    "ARCHIVE, then each -a archive in the order given. A MODEL that is not a file\n"
    "is read from the archive entry of that name. A MODEL with *, ? or [ that is\n"
    "not a file is a pattern: every entry whose name matches it (ignoring case)\n"
#ifdef _WIN32  // a Command Prompt passes * on as it is, and takes no single quotes
    "is a model, as in pelt.exe -o textures units.mix *.kzm\n"
#else
    "is a model; quote it, as in 'units.mix' '*.kzm'.\n"
#endif
    "DDS entries are decoded from DXT1 to DXT5, ATI1 and ATI2 (BC4, BC5), and\n"
    "uncompressed RGB, luminance and alpha pixels of 8 to 32 bits.\n"
    "\n"
    "options (anywhere before --):\n"
    "  -a, --archive FILE    also search FILE for textures and models, after ARCHIVE\n"
    "  -o, --output-dir DIR  write the textures into DIR, creating it when missing\n"
    "  -l, --list            list the textures the models refer to and where the\n"
    "                        archives hold them; write nothing\n"
    "  -t, --contents        list every entry of the archives and what it is; write\n"
    "                        nothing\n"
    "  -x, --extract PATTERN write every entry whose name matches PATTERN, as a\n"
    "                        model's texture would be (any other entry as stored);\n"
    "                        every name given is an archive, and no model is read\n"
    "      --raw             write DDS entries as stored (NAME.dds) instead of\n"
    "                        converting them\n"
    "  -q, --quiet           print no \"now writing\" lines; on a terminal, show\n"
    "                        files and bytes written on one line instead\n"
    "  -j, --jobs N          convert N entries at once (1 to 64; default: one per\n"
    "                        processor); the output is the same whatever N\n"
    "      --png             write PNG files (NAME.png) instead of TGA files\n"
    "      --strict-tga      write 0x28 in the TGA image descriptor instead of 0x2F\n"
    "                        (for readers that refuse 15 attribute bits)\n"
    "      --no-size-limit   write even when the run would write more than 9 times\n"
    "                        the archives' size (for archives that reuse bytes)\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "  --                    end of options\n"
    "\n"
    "exit status: 0 when everything was written (or listed), 1 after this usage\n"
    "text or a bad option, 2 when anything was reported on standard error (a\n"
    "texture not found, an entry refused, an input that cannot be read)\n";

// An honest archive's entries expand at most 8 times (DXT1 and ATI1 to 32-bit pixels; 8-bit
// pixels such as L8 or A8 4 times) when converted and once when copied; writing more means
// entries share bytes.
constexpr std::uint64_t kMaxExpansion = 9;

class Runner {
 public:
  Runner(const Options& options, std::FILE* out, std::FILE* err)
      : options_(options), out_(out), err_(err), progress_(err) {}

  int Run();

 private:
  void Report(std::string_view subject, std::string_view reason) {
    progress_.Hide();
    std::fprintf(err_, "pelt: %s: %.*s\n", Printable(subject).c_str(),
                 static_cast<int>(reason.size()), reason.data());
    std::fflush(err_);
    progress_.Show();
    reported_ = true;
  }
  int ExitStatus() const { return reported_ ? kExitReported : kExitOk; }
  // "ARCHIVE", or "any of the N archives".
  std::string Archives() const {
    return archives_.size() == 1 ? archives_[0].path
                                 : "any of the " + std::to_string(archives_.size()) + " archives";
  }

  bool LoadArchives();
  bool ReadModels();
  bool EveryPatternMatches();
  bool Collect(const std::string& subject, const Result<ModelTextures>& textures);
  void ListContents();
  void List();
  bool TooLarge();
  Status Fill(const PlannedWrite& w, OutputFile* file, ThreadBudget* budget) const;
  bool WriteAll(unsigned jobs);

  const Options& options_;
  std::FILE* out_;
  std::FILE* err_;
  ProgressLine progress_;  // shown only with -q on a terminal
  bool reported_ = false;
  std::deque<InputFile> files_;      // the archives' open files, in search order; they never move
  std::vector<Archive> archives_;    // each points to its file in files_
  std::vector<std::string> wanted_;  // every model's texture names, in order
  Plan plan_;
};

int Runner::Run() {
  if (!LoadArchives()) return kExitReported;
  if (options_.contents) {
    ListContents();
    return ExitStatus();
  }
  const PlanOptions plan_options = {options_.raw, options_.png};
  if (!options_.extract.empty()) {
    if (!EveryPatternMatches()) return kExitReported;
    plan_ = MakeExtractPlan(archives_, options_.extract, plan_options);
  } else {
    if (!ReadModels()) return kExitReported;
    plan_ = MakePlan(archives_, wanted_, plan_options);
  }
  if (options_.list) {
    List();
    TooLarge();
    return ExitStatus();
  }
  if (TooLarge()) return kExitReported;
  if (!options_.output_dir.empty()) {
    if (Status s = MakeDirectories(options_.output_dir); !s.ok()) {
      Report(options_.output_dir, s.message());
      return kExitReported;
    }
  }
  if (options_.quiet && IsTerminal(err_)) progress_.Start(plan_, ProgressLine::Clock::now());
  const unsigned jobs = options_.jobs != 0 ? options_.jobs : std::min(UsableCores(), kMaxJobs);
  if (!WriteAll(jobs)) return kExitReported;
  progress_.Stop();
  for (const PlannedTexture& t : plan_.textures)
    if (!t.archive) Report(t.name, "not found in " + Archives());
  return ExitStatus();
}

// Every archive is loaded before anything else; one that cannot be is fatal, except to -t, which
// lists the others.
bool Runner::LoadArchives() {
  for (const std::string& path : options_.archives) {
    auto file = InputFile::Open(path);
    auto dir = file.ok() ? ParseMixDirectory(*file) : Result<MixDirectory>(file.status());
    if (!dir.ok()) {
      Report(path, dir.status().message());
      if (options_.contents) continue;
      return false;
    }
    files_.push_back(std::move(*file));
    archives_.push_back({path, &files_.back(), std::move(*dir)});
  }
  return true;
}

// A pattern of -x that matches no entry is reported; nothing is written then.
bool Runner::EveryPatternMatches() {
  bool all = true;
  for (const std::string& pattern : options_.extract) {
    const bool any = std::any_of(archives_.begin(), archives_.end(), [&](const Archive& a) {
      return std::any_of(a.dir.filenames.begin(), a.dir.filenames.end(),
                         [&](const std::string& name) { return MatchesPattern(pattern, name); });
    });
    if (!any) Report(pattern, "matches no entry of " + Archives());
    all = all && any;
  }
  return all;
}

// A MODEL argument is a file; where no file of that name exists, the entry of that name (FindEntry)
// or, for a pattern, every entry that matches it (MatchEntries). A model that cannot be read, or
// found, ends the run before anything is written.
bool Runner::ReadModels() {
  for (const std::string& arg : options_.models) {
    auto file = InputFile::Open(arg);
    if (file.ok() || file.status().code() != Code::kNotFound) {
      if (!Collect(arg, file.ok() ? ScanTextureNames(*file) : file.status())) return false;
      continue;
    }
    const bool pattern = IsPattern(arg);
    std::vector<EntryRef> entries;
    if (pattern) {
      entries = MatchEntries(archives_, arg);
    } else if (const auto entry = FindEntry(archives_, arg)) {
      entries.push_back(*entry);
    }
    if (entries.empty()) {
      Report(arg,
             (pattern ? "matches no entry of " : "no such file, nor an entry of ") + Archives());
      return false;
    }
    for (const EntryRef& e : entries) {
      const Archive& a = archives_[e.archive];
      // A model a pattern found is reported by its entry's name.
      const std::string& subject = pattern ? a.dir.filenames[e.entry] : arg;
      if (!Collect(subject, ScanModelEntry(a, e.entry))) return false;
    }
  }
  return true;
}

// Adds a model's texture names to the wanted ones, reporting what is wrong with it; false when it
// could not be read.
bool Runner::Collect(const std::string& subject, const Result<ModelTextures>& textures) {
  if (!textures.ok()) {
    Report(subject, textures.status().message());
    return false;
  }
  if (textures->name_cut_short) {
    Report(subject, "texture-name chunk at offset " + std::to_string(textures->cut_short_offset) +
                        " is cut short by the end of the file; its name is dropped");
  }
  if (textures->texturenames.empty()) Report(subject, "names no textures");
  wanted_.insert(wanted_.end(), textures->texturenames.begin(), textures->texturenames.end());
  return true;
}

// Prints every entry of every archive, in search order and index order, with what it is; the
// archive's path leads each line when there are several. An unusable entry is information here,
// not a failure.
void Runner::ListContents() {
  for (const Archive& a : archives_) {
    for (std::size_t i = 0; i < a.dir.filenames.size(); ++i) {
      std::string line = archives_.size() > 1 ? Printable(a.path) + "\t" : "";
      line += Printable(a.dir.filenames[i]) + "\t" + DescribeEntry(a, i) + "\n";
      std::fputs(line.c_str(), out_);
    }
  }
}

// Prints each wanted texture (model order, first spelling) with the entry the run would leave on
// disk for it and what it is, or "missing"; a missing or unusable texture makes the exit status 2.
void Runner::List() {
  for (const PlannedTexture& t : plan_.textures) {
    std::string line = Printable(t.name);
    if (!t.archive) {
      std::fprintf(out_, "%s\tmissing\n", line.c_str());
      reported_ = true;
      continue;
    }
    const PlannedWrite& w = plan_.writes[t.outcome];
    const Archive& a = archives_[w.archive];
    if (archives_.size() > 1) line.append("\t").append(Printable(a.path));
    line.append("\t").append(Printable(a.dir.filenames[w.entry])).append("\t");
    line += DescribeWrite(w);
    if (!w.refusal.ok()) reported_ = true;
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

// Refuses a run that would write more than an honest archive can hold: entries that share bytes
// can otherwise make a small download fill a disk.
bool Runner::TooLarge() {
  const std::uint64_t limit = plan_.archive_bytes > UINT64_MAX / kMaxExpansion
                                  ? UINT64_MAX
                                  : kMaxExpansion * plan_.archive_bytes;
  if (!options_.size_limit || plan_.write_bytes <= limit) return false;
  // Something is written, so some archive supplies it; the line names the first.
  const std::size_t used = plan_.supplying.size();
  Report(archives_[plan_.supplying.front()].path,
         "the run would write " + std::to_string(plan_.write_bytes) + " bytes, more than 9 times " +
             (used == 1 ? std::string("the archive's size")
                        : "the " + std::to_string(used) + " archives' size") +
             "; its entries share bytes (an archive bomb?); nothing written "
             "(--no-size-limit writes anyway)");
  return true;
}

// A copy this small is made by the thread that renames it: handing it to a worker costs more.
constexpr std::uint64_t kSmallCopy = 64 * 1024;

bool IsCopy(Step step) {
  switch (step) {
    case Step::kCopyTga:
    case Step::kCopyDds:
    case Step::kCopyOther:
      return true;
    case Step::kTgaToPng:
    case Step::kDdsToTga:
    case Step::kDdsToPng:
      return false;
  }
  return false;
}

// Writes the entry of `w` into `file`, holding one of the run's threads while it works.
Status Runner::Fill(const PlannedWrite& w, OutputFile* file, ThreadBudget* budget) const {
  const InputFile& archive = files_[w.archive];
  const std::uint8_t descriptor = options_.strict_tga ? kTgaDescriptorStrict : kTgaDescriptor;
  budget->Take();
  Status s;
  switch (w.step) {
    case Step::kCopyTga:
    case Step::kCopyDds:
    case Step::kCopyOther:
      s = file->CopyFrom(archive, w.place.offset, w.place.size);
      break;
    case Step::kTgaToPng:
      s = ConvertTgaToPng(archive, w.place.offset, w.place.size, w.tga, file, budget);
      break;
    case Step::kDdsToTga:
      s = ConvertDdsToTga(archive, w.place.offset, w.surface, descriptor, file, budget);
      break;
    case Step::kDdsToPng:
      s = ConvertDdsToPng(archive, w.place.offset, w.surface, file, budget);
      break;
  }
  budget->Give();
  return s;
}

// Carries out the writes of the plan in plan order, as one job would: each refusal reported, each
// file written through a temporary file, announced once it is created and renamed into place
// when complete. With more jobs, the files ahead are converted on `jobs` worker threads
// meanwhile; this thread alone creates, announces and renames files (so that an interruption,
// whose handler runs here, never meets a file half recorded) and prints every line. False when
// the output directory takes no file: that is reported once, for the directory, after every
// write before it, and the run stops.
bool Runner::WriteAll(unsigned jobs) {
  const std::size_t count = plan_.writes.size();
  ThreadBudget budget(jobs);
  struct Job {
    std::optional<OutputFile> file;
    Status status;
    bool done = false;
    bool announced = false;  // its "now writing" line is printed
    bool here = false;       // filled by this thread
  };
  // Files are created up to `window` writes ahead of the one to be renamed next, so that a long
  // conversion holds up no job: the ones after it are done meanwhile, and wait, each holding an
  // open file and no memory.
  const std::size_t window =
      jobs == 1 ? 1 : std::min<std::size_t>(std::size_t{16} * jobs, kMaxTemporaryFiles);
  std::vector<Job> ring(window);  // write j in ring[j % window]
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::size_t> queue;  // writes whose files are created, for a worker to fill
  bool closing = false;
  std::vector<std::thread> workers;
  for (unsigned i = 0; jobs > 1 && i < jobs; ++i) {
    workers.push_back(StartWorker([&] {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        changed.wait(lock, [&] { return closing || !queue.empty(); });
        if (queue.empty()) return;
        const std::size_t j = queue.front();
        queue.pop_front();
        Job& job = ring[j % window];
        lock.unlock();
        const Status s = Fill(plan_.writes[j], &*job.file, &budget);
        lock.lock();
        job.status = s;
        job.done = true;
        changed.notify_all();
      }
    }));
  }
  const auto stop = [&] {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      closing = true;
    }
    changed.notify_all();
    for (std::thread& t : workers) t.join();
  };
  const auto announce = [this](Job& job, const PlannedWrite& w) {
    if (!options_.quiet && !job.announced) {
      std::fprintf(out_, "now writing %s\n", w.name.c_str());
      std::fflush(out_);
    }
    job.announced = true;
  };
  std::size_t started = 0;        // writes whose files are created (or that are refused)
  std::optional<Status> no_file;  // why the output directory took no file for write `started`
  for (std::size_t head = 0; head < count; ++head) {
    for (; !no_file && started < count && started < head + window; ++started) {
      const PlannedWrite& w = plan_.writes[started];
      Job& job = ring[started % window];
      job.file.reset();  // committed or removed already
      job.status = Status::Ok();
      job.done = false;
      job.announced = false;
      if (!w.refusal.ok()) continue;
      auto file = OutputFile::Create(options_.output_dir);  // empty: the current directory
      if (!file.ok()) {
        no_file = file.status();
        break;
      }
      job.file.emplace(std::move(*file));
      if (started == head) announce(job, w);  // before a byte of it is written
      // Filled below, in its turn, with one job, or when it is a small copy, which costs less
      // than handing it to a worker.
      job.here = workers.empty() || (IsCopy(w.step) && w.size < kSmallCopy);
      if (job.here) continue;
      const std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(started);
      changed.notify_all();
    }
    if (no_file && head == started) {
      stop();
      progress_.Stop();
      Report(options_.output_dir.empty() ? "." : options_.output_dir,
             "cannot create files in it: " + no_file->message());
      return false;
    }
    const PlannedWrite& w = plan_.writes[head];
    if (!w.refusal.ok()) {
      // A name that would leave the output directory is refused before its entry is looked at.
      Report(w.name, w.refusal.code() == Code::kInvalid ? w.refusal.message() + "; not written"
                                                        : w.refusal.message());
      continue;
    }
    Job& job = ring[head % window];
    announce(job, w);
    if (job.here) {
      job.status = Fill(w, &*job.file, &budget);
    } else {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return job.done; });
    }
    Status s = job.status;
    if (s.ok()) s = job.file->Commit(w.name);
    job.file.reset();  // removes the temporary file unless committed
    if (!s.ok()) {
      Report(w.name, s.message());
      continue;
    }
    progress_.Add(w.size, ProgressLine::Clock::now());
  }
  stop();
  return true;
}

}  // namespace

int Run(const Options& options, std::FILE* out, std::FILE* err) {
  return Runner(options, out, err).Run();
}

int Main(std::span<const std::string_view> args, std::FILE* out, std::FILE* err) {
  const Args parsed = ParseArgs(args);
  int status = kExitOk;
  switch (parsed.command) {
    case Command::kUsage:
      std::fputs(kUsage, out);
      std::fputs(kUsageHint, out);
      status = kExitUsage;
      break;
    case Command::kHelp:
      std::fputs(kUsage, out);
      std::fputs(kOptionsHelp, out);
      break;
    case Command::kVersion:
      std::fputs("pelt " PELT_VERSION "\n", out);
      break;
    case Command::kBadOption:
      std::fprintf(err, "pelt: %s: %s (see pelt --help)\n", Printable(parsed.error_subject).c_str(),
                   parsed.error.c_str());
      std::fflush(err);
      return kExitUsage;
    case Command::kRun:
      status = Run(parsed.options, out, err);
      break;
  }
  // Lines that never reached their reader (a full disk, a closed pipe) are a failure too.
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "pelt: standard output: %s\n", std::strerror(errno));
    status = kExitReported;
  }
  return status;
}

}  // namespace pelt
