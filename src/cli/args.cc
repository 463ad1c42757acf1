#include "args.h"

#include <getopt.h>

namespace pelt {

namespace {

constexpr char kShort[] = ":a:hj:lo:qtx:";
enum LongOnly { kVersion = 256, kStrictTga, kNoSizeLimit, kRaw, kPng };
constexpr option kLong[] = {
    {"archive", required_argument, nullptr, 'a'},
    {"help", no_argument, nullptr, 'h'},
    {"jobs", required_argument, nullptr, 'j'},
    {"list", no_argument, nullptr, 'l'},
    {"output-dir", required_argument, nullptr, 'o'},
    {"contents", no_argument, nullptr, 't'},
    {"extract", required_argument, nullptr, 'x'},
    {"quiet", no_argument, nullptr, 'q'},
    {"raw", no_argument, nullptr, kRaw},
    {"png", no_argument, nullptr, kPng},
    {"version", no_argument, nullptr, kVersion},
    {"strict-tga", no_argument, nullptr, kStrictTga},
    {"no-size-limit", no_argument, nullptr, kNoSizeLimit},
    {nullptr, 0, nullptr, 0},
};

Args Just(Command command) {
  Args a;
  a.command = command;
  return a;
}

Args BadOption(std::string subject, std::string why) {
  Args a = Just(Command::kBadOption);
  a.error_subject = std::move(subject);
  a.error = std::move(why);
  return a;
}

const char* Needs(int option) {
  switch (option) {
    case 'a':
      return "option requires an archive";
    case 'x':
      return "option requires a pattern";
    case 'j':
      return "option requires a number of jobs from 1 to 64";
    default:
      return "option requires a directory";
  }
}

}  // namespace

Args ParseArgs(std::span<const std::string_view> args) {
  // getopt_long permutes its argv, so it works on copies; optind = 0 starts it afresh.
  std::vector<std::string> copies{"pelt"};
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : copies) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(copies.size());

  Args out;
  std::vector<std::string> more_archives;
  // An option whose argument was refused, as given: "-j", "-lj", "--jobs" or "--jobs=".
  const auto given = [&] { return argv[optarg == argv[optind - 1] ? optind - 2 : optind - 1]; };
  opterr = 0;
  optind = 0;
  for (int c; (c = getopt_long(argc, argv.data(), kShort, kLong, nullptr)) != -1;) {
    switch (c) {
      case 'h':
        return Just(Command::kHelp);
      case kVersion:
        return Just(Command::kVersion);
      case 'l':
        out.options.list = true;
        break;
      case kStrictTga:
        out.options.strict_tga = true;
        break;
      case kNoSizeLimit:
        out.options.size_limit = false;
        break;
      case 't':
        out.options.contents = true;
        break;
      case 'q':
        out.options.quiet = true;
        break;
      case kRaw:
        out.options.raw = true;
        break;
      case kPng:
        out.options.png = true;
        break;
      case 'j': {  // 1 to 64, in digits
        const std::string_view n = optarg;
        unsigned jobs = 0;
        if (n.size() <= 2 && n.find_first_not_of("0123456789") == std::string_view::npos) {
          for (char d : n) jobs = jobs * 10 + static_cast<unsigned>(d - '0');
        }
        if (jobs < 1 || jobs > 64) return BadOption(given(), Needs(c));
        out.options.jobs = jobs;
        break;
      }
      case 'a':
      case 'o':
      case 'x':
        if (*optarg == '\0') return BadOption(given(), Needs(c));
        if (c == 'a') {
          more_archives.emplace_back(optarg);
        } else if (c == 'x') {
          out.options.extract.emplace_back(optarg);
        } else {
          out.options.output_dir = optarg;
        }
        break;
      case ':':
        // Some getopt_long implementations (MinGW's) also return ':' for an argument given to a
        // long option that takes none ("--version=3"): that is an unknown option, as elsewhere.
        if (optopt == 'a' || optopt == 'o' || optopt == 'x' || optopt == 'j') {
          std::string given{'-', static_cast<char>(optopt)};
          if (std::string_view(argv[optind - 1]).starts_with("--")) given = argv[optind - 1];
          return BadOption(given, Needs(optopt));
        }
        [[fallthrough]];
      default: {
        // An unknown short option has optopt set to it. A bad long one is named whole: its optopt
        // is 0, a known option's letter or a long option's code.
        std::string given{'-', static_cast<char>(optopt)};
        const bool known =
            std::string_view(kShort).find(static_cast<char>(optopt)) != std::string_view::npos;
        if (optopt == 0 || known || optopt >= kVersion) given = argv[optind - 1];
        return BadOption(given, "unknown option");
      }
    }
  }
  if (out.options.contents && !out.options.extract.empty())
    return BadOption("-x", "cannot be combined with -t");
  // Without -t or -x: ARCHIVE, then the models; with either, every name is an archive.
  const bool only_archives = out.options.contents || !out.options.extract.empty();
  const int archives = only_archives ? argc - optind : 1;
  if (only_archives ? archives + more_archives.size() == 0 : argc - optind < 2)
    return Just(Command::kUsage);
  out.command = Command::kRun;
  Options& o = out.options;
  o.archives.assign(argv.begin() + optind, argv.begin() + optind + archives);
  o.archives.insert(o.archives.end(), more_archives.begin(), more_archives.end());
  o.models.assign(argv.begin() + optind + archives, argv.end() - 1);
  return out;
}

}  // namespace pelt
