#include "cli/Cli.h"
#include "common/Words.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <sstream>
#include <tuple>

#include "cli/Job.h"
#include "cli/JobTable.h"
#include "cli/Record.h"
#include "common/Version.h"

namespace tandra::cli {

namespace {

// "the jobs are list, devices, …, convert and serial"
std::string jobsText() {
  std::string text = "the jobs are";
  for (std::size_t job = 0; job < kJobTable.size(); ++job) {
    text += job == 0 ? " " : job + 1 == kJobTable.size() ? " and " : ", ";
    text += kJobTable[job].name;
  }
  return text;
}
constexpr const char* kHelpHint =
    "(tandra-cli --help lists the jobs, tandra-cli JOB --help the options of one)";

// A whole number from `low` to `high`, or a message that says what was wanted.
int wholeNumber(const std::string& option, const std::string& text, int low, int high) {
  const UnsignedNumber number = parseUnsigned(text);
  const bool inRange = number && number.value >= static_cast<std::uint64_t>(low) &&
                       number.value <= static_cast<std::uint64_t>(high);
  if (!inRange) {
    throw CLI::ValidationError(option + " wants a whole number from " + std::to_string(low) +
                               " to " + std::to_string(high) + ", not '" + text + "'");
  }
  return static_cast<int>(number.value);
}

// --sockets: a count ("3": sockets 1 to 3, as -n) or the sockets to use ("1,3,5", "2-4").
// Gives the count (the highest socket) and the sockets below it left out.
std::pair<int, int> socketChoice(const std::string& text) {
  if (text.find_first_of(",-") == std::string::npos)
    return {wholeNumber("--sockets", text, 1, 5), 0};
  int chosen = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    const std::size_t dash = part.find('-');
    const int first = wholeNumber("--sockets", part.substr(0, dash), 1, 5);
    const int last =
        dash == std::string::npos ? first : wholeNumber("--sockets", part.substr(dash + 1), 1, 5);
    if (last < first) throw CLI::ValidationError("--sockets: " + part + " runs backwards");
    for (int socket = first; socket <= last; ++socket) chosen |= 1 << (socket - 1);
    at = comma + 1;
  }
  int count = 5;
  while ((chosen >> (count - 1) & 1) == 0) --count;
  return {count, ((1 << count) - 1) & ~chosen};
}

// The options every job's parser knows, by the group a job's entry names when it uses them;
// -v, --json and --quiet are every job's.
constexpr std::pair<const char*, unsigned> kSharedGroups[] = {
    {"--format", takes::kFormat},
    {"--out-format", takes::kOutFormat},
    {"--fill", takes::kFill},
    {"--pulse", takes::kChipSettings},
    {"--vpp", takes::kChipSettings},
    {"--update-firmware", takes::kChipSettings},
    {"--serial", takes::kSerial},
    {"--driver", takes::kProgrammer},
    {"--virtual", takes::kProgrammer},
    {"--virtual-chips", takes::kProgrammer},
    {"--virtual-firmware", takes::kProgrammer},
    {"--virtual-state", takes::kProgrammer},
    {"--full-waits", takes::kProgrammer},
    {"--trace", takes::kProgrammer},
    {"--replay", takes::kProgrammer},
};

// The command line: one subcommand per job, each with the options it takes, the shared ones
// included, so that `tandra-cli JOB --help` tells all of them.
class Parser {
 public:
  explicit Parser(CliOptions& o) : o_(o) {
    app_.name("tandra-cli");
    app_.description(
        "Programs, verifies, blank-checks, compares and reads one to five EPROMs of one type on "
        "the gang programmer, and loads, converts and checksums image files.");
    app_.set_version_flag("--version", std::string("tandra-cli ") + kVersion);
    app_.require_subcommand(1, 1);

    for (const JobKind& kind : kJobTable) addJob(kind);
    app_.get_subcommand("doctor")->add_option("-d,--device", o_.device,
                                              "the type socket 1 is read as (27C256 if not given)");
    app_.get_subcommand("accept")->add_option(
        "--report", o_.report,
        "the report's file (tandra-accept-RUN.json in the current folder if not given)");
    CLI::App* program = app_.get_subcommand("program");
    program->add_flag("--no-verify", o_.noVerify, "do not verify after programming");
    program->add_flag("--no-check", o_.noCheck,
                      "program every socket without Program Compare first (by default a socket "
                      "whose chip cannot take the image gets no pulse)");
    program->add_flag("--repeat", o_.repeat,
                      "program set after set: Enter for the next, q (or Ctrl-D, Ctrl-C) to end");
    program->add_option("--sn-at", o_.serialAt,
                        "write each chip's own serial number at this address (hexadecimal, 0x or "
                        "not), where the image sets no byte");
    program->add_option("--sn-start", o_.serialStart,
                        "the first serial number (decimal, or hexadecimal after 0x)");
    program->add_option("--sn-step", o_.serialStep,
                        "serial numbers go up by this (decimal, or hexadecimal after 0x); 1 when "
                        "not given");
    program
        ->add_option("--sn-format", o_.serialFormat,
                     "le or be (binary; le when not given), bcd (two digits a byte) or ascii "
                     "(digits)")
        ->check(CLI::IsMember({"le", "be", "bcd", "ascii"}));
    program->add_option("--sn-width", o_.serialWidth,
                        "bytes the number takes (le, be, bcd: 4; ascii: 8)");
    program->add_flag("--sn-reuse-failed", o_.serialReuseFailed,
                      "give a failed chip's serial number to the next chip, where the chip was "
                      "never sent the page its number is on");
    program->add_option("--sn-ledger", o_.serialLedger,
                        "take the serial numbers from this ledger (tandra-cli serial starts one): "
                        "each set reserves its numbers there before a chip is programmed");
    program
        ->add_option("--sn-per", o_.serialPer,
                     "chip (each chip its own number) or board (one number for each board of "
                     "a --split image, at --sn-at as the board's bus has it)")
        ->check(CLI::IsMember({"chip", "board"}))
        ->capture_default_str();
    CLI::App* serial = app_.get_subcommand("serial");
    serial->add_option("ledger", o_.serialLedger, "the ledger file")->required();
    serial->add_option("--sn-start", o_.serialStart, "start a new ledger at this number");
    serial->add_option("--sn-step", o_.serialStep, "its numbers go up by this; 1 when not given");
    serial->add_option("--sn-format", o_.serialFormat, "le (when not given), be, bcd or ascii")
        ->check(CLI::IsMember({"le", "be", "bcd", "ascii"}));
    serial->add_option("--sn-width", o_.serialWidth, "bytes a number takes");
    serial->add_option("--log", o_.log, "the production log to look in for the chips that passed");
    app_.get_subcommand("read")
        ->add_option("--socket", o_.readSocket, "the socket to read, 1 to 5")
        ->check(CLI::Range(1, 5));
    CLI::App* convert = app_.get_subcommand("convert");
    convert->add_option("input", o_.input, "the file to read (- for standard input)")->required();
    convert->add_option("output", o_.output, "the file to write (- for standard output)")
        ->required();
    for (const JobKind& kind : kJobTable) {
      if (kind.file != JobFile::ToChips) continue;
      CLI::App* sub = app_.get_subcommand(std::string(kind.name));
      sub->add_flag("--force", o_.force,
                    "go on with a file that loaded with dropped bytes or wrong checksums, or "
                    "program above the type's voltage");
      sub->add_option("--socket-image", o_.socketImages,
                      "S=FILE: socket S gets the image in FILE (give it once per socket)")
          ->allow_extra_args(false);
      sub->add_option("--split", o_.split,
                      "2 or 4: the file is the image of a 16- or 32-bit bus; socket s gets lane "
                      "(s-1) mod N, the bytes s-1, s-1+N, ...")
          ->check(CLI::IsMember({2, 4}));
    }
    for (const JobKind& kind : kJobTable) {
      if (kind.forChips || kind.file == JobFile::None) continue;
      app_.get_subcommand(std::string(kind.name))
          ->add_flag(
              "--force", o_.force,
              "go on with a file that loaded with dropped bytes, wrong checksums or no byte");
    }
    for (const JobKind& kind : kJobTable) {
      if (!kind.runsSets) continue;
      CLI::App* sub = app_.get_subcommand(std::string(kind.name));
      sub->add_option("--log", o_.log,
                      "append one line per chip to FILE before the chip is reported anywhere "
                      "else; the file is opened and checked before any chip is touched");
      sub->add_option("--log-format", o_.logFormat, "json (one object a line) or csv")
          ->check(CLI::IsMember({"json", "csv"}))
          ->capture_default_str();
    }
  }

  // An exit code when the program ends here (help, version, a wrong word), with `message` set
  // for a wrong word.
  std::optional<int> parse(std::vector<std::string> arguments, CliIo& io, std::string* message) {
    jobFirst(arguments);
    if (!arguments.empty() && !arguments.front().starts_with("-") &&
        findJob(arguments.front()) == nullptr) {
      *message = "no job '" + arguments.front() + "'; " + jobsText();
      return exitcode::kUsage;
    }
    const JobKind* kind = arguments.empty() ? nullptr : findJob(arguments.front());
    std::reverse(arguments.begin(), arguments.end());  // the order CLI11 takes them in
    try {
      app_.parse(arguments);
      refuseForeign();
      if (pulse_) o_.pulse = wholeNumber("--pulse", *pulse_, 1, 255);
      if (count_ && socketList_) {
        throw CLI::ValidationError("give -n (a count) or --sockets, not both");
      }
      if (count_) o_.sockets = wholeNumber("-n", *count_, 1, 5);
      if (socketList_) std::tie(o_.sockets, o_.skippedSockets) = socketChoice(*socketList_);
    } catch (const CLI::ParseError& error) {
      // Help and the version end the program well, and are printed as the parser has them.
      if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
        app_.exit(error, io.out, io.err);
        return exitcode::kPassed;
      }
      // An option the job does not take is told as that, even when its value was wrong too (the
      // parser cannot name an option kept out of the job's help); other words left over are
      // named with the job's name, not the error's.
      const bool leftOver = error.get_exit_code() == static_cast<int>(CLI::ExitCodes::ExtrasError);
      const std::optional<std::string> foreign = foreignGiven();
      *message = error.get_name() == "RequiredError" && app_.get_subcommands().empty()
                     ? "which job? " + jobsText()
                 : foreign  ? *foreign
                 : leftOver ? foreignWord(error.what(), kind)
                            : std::string(error.what());
      return exitcode::kUsage;
    }
    o_.command = app_.get_subcommands().front()->get_name();
    return std::nullopt;
  }

 private:
  // Options every job takes may come before the job too, as git has it: they are moved behind
  // the job's word, where the parser looks for them.
  static void jobFirst(std::vector<std::string>& arguments) {
    static constexpr std::string_view kTakesValue[] = {
        "--format",           "--out-format",    "--pulse", "--vpp",    "--virtual-chips",
        "--virtual-firmware", "--virtual-state", "--fill",  "--driver", "--serial",
        "--update-firmware",  "--trace",         "--replay"};
    std::size_t at = 0;
    while (at < arguments.size() && arguments[at].starts_with("-") && arguments[at] != "-" &&
           arguments[at] != "--help" && arguments[at] != "-h" && arguments[at] != "--version") {
      const std::string& option = arguments[at];
      const bool takesValue = option.find('=') == std::string::npos &&
                              std::find(std::begin(kTakesValue), std::end(kTakesValue), option) !=
                                  std::end(kTakesValue);
      at += takesValue ? 2 : 1;
    }
    if (at == 0 || at >= arguments.size()) return;
    std::rotate(arguments.begin(), arguments.begin() + static_cast<std::ptrdiff_t>(at),
                arguments.begin() + static_cast<std::ptrdiff_t>(at) + 1);
  }

  // A job's subcommand with the options its entry in the job table calls for.
  void addJob(const JobKind& kind) {
    CLI::App* sub = app_.add_subcommand(std::string(kind.name), std::string(kind.does));
    if (kind.needsType) {
      sub->add_option("-d,--device", o_.device,
                      "device type as the list shows it, e.g. 27C256, or a maker's part name for "
                      "it (M27C256B-12F1)")
          ->required();
    }
    if (kind.takesSockets) {
      sub->add_option("-n", count_, "sockets in use, 1 to N (1 to 5; 1 when not given)");
      sub->add_option("--sockets", socketList_,
                      "the sockets to use: a count as -n, or a list or range (1,3,5  2-4); the "
                      "others are left alone and reported as skipped");
    }
    if (kind.file == JobFile::Read || kind.file == JobFile::Written ||
        kind.file == JobFile::ToChips) {
      CLI::Option* input = sub->add_option("file", o_.input,
                                           kind.file == JobFile::Written
                                               ? "the image file written (- for standard output)"
                                               : "the image file (- for standard input)");
      // A job for the chips may have every socket's image from --socket-image.
      if (kind.file != JobFile::ToChips) input->required();
    }
    shared(sub);
    for (const auto& [name, group] : kSharedGroups) {
      if (kind.uses(group)) continue;
      // Still known to the job's parser, so that its value is not taken for the job's file,
      // but kept out of its help and refused when given.
      CLI::Option* option = sub->get_option(name);
      option->group("");
      foreign_.push_back({std::string(kind.name), name, option});
    }
  }

  // An option of another job given to this one is named with the job; other words left over
  // are told as the parser tells them ("... not expected: 5 --sn-start").
  static std::string foreignWord(const std::string& parserText, const JobKind* kind) {
    const std::size_t listed = parserText.find(": ");
    if (kind == nullptr || listed == std::string::npos) return parserText;
    std::istringstream words(parserText.substr(listed + 2));
    for (std::string word; words >> word;) {
      if (!word.starts_with("-") || word == "-") continue;
      return "the " + std::string(kind->name) + " job takes no " + word.substr(0, word.find('='));
    }
    return parserText;
  }

  // The job was given an option it has no use for: it is refused rather than ignored.
  std::optional<std::string> foreignGiven() const {
    for (const Foreign& foreign : foreign_) {
      if (foreign.option->count() == 0) continue;
      return "the " + foreign.job + " job takes no " + foreign.name;
    }
    return std::nullopt;
  }

  void refuseForeign() const {
    if (const std::optional<std::string> foreign = foreignGiven()) {
      throw CLI::ValidationError(*foreign);
    }
  }

  void shared(CLI::App* sub) {
    sub->add_option("--format", o_.format,
                    "format of the file read (or written by read): " + formatWords() +
                        " or auto (by content, then by extension)")
        ->capture_default_str();
    sub->add_option(
           "--out-format", o_.outFormat,
           "format of the file convert writes: " + formatWords() + " or auto (by extension)")
        ->capture_default_str();
    sub->add_option("--pulse", pulse_, "programming pulse width, 1 to 255");
    sub->add_option("--vpp", o_.vpp, "programming voltage: 25, 21 or 12.5")
        ->check(CLI::IsMember({"25", "21", "12.5"}));
    sub->add_flag("--virtual", o_.virtualProgrammer,
                  "use the virtual programmer, with five blank chips of the device type");
    sub->add_option("--virtual-chips", o_.virtualChips,
                    "preload the virtual programmer's next socket from FILE, in the file's own "
                    "format; give it once per socket, for sockets 1, 2, ... in turn")
        ->allow_extra_args(false);
    sub->add_option("--virtual-firmware", o_.virtualFirmware,
                    "the virtual programmer's firmware version, MAJOR.MINOR (1.10 is offered "
                    "the update)");
    sub->add_flag("--full-waits", o_.fullWaits,
                  "read every reply to its full length, waiting out the read time-out, as the "
                  "protocol was first written (slower; no firmware needs it)");
    sub->add_option("--virtual-state", o_.virtualState,
                    "the virtual programmer's chips from this folder at the start, and back "
                    "into it at the end (a file per socket, named with its type)");
    sub->add_option("--fill", o_.fill,
                    "the byte for addresses the image does not set, hexadecimal, 0x or not "
                    "(program, verify and compare: FF, an erased cell; checksum and convert: 00, "
                    "as the window)");
    sub->add_option("--driver", o_.driver, "USB driver: d2xx, libftdi or virtual")
        ->check(CLI::IsMember({"d2xx", "libftdi", "virtual"}, CLI::ignore_case));
    sub->add_option("--serial", o_.serial, "the programmer to use when several are attached");
    sub->add_option("--update-firmware", o_.updateFirmware,
                    "update firmware older than 1.20 from this file");
    sub->add_option("--trace", o_.trace,
                    "write every transfer to and from the programmer, the start-up facts and the "
                    "status log into FILE (its form is in the README)");
    sub->add_option("--replay", o_.replay,
                    "answer as the programmer of a trace did, and say where the job differs");
    sub->add_flag("-v,--verbose", o_.verbose, "the status log on standard error as it is written");
    sub->add_flag("--json", o_.json, "one JSON record on standard output");
    sub->add_flag("--quiet", o_.quiet, "no progress line and no notes; results and warnings");
  }

  CliOptions& o_;
  CLI::App app_;
  std::optional<std::string> pulse_;
  std::optional<std::string> count_;
  std::optional<std::string> socketList_;
  // Each job's options it has no use for.
  struct Foreign {
    std::string job;
    std::string name;
    CLI::Option* option;
  };
  std::vector<Foreign> foreign_;
};

}  // namespace

int runCli(const std::vector<std::string>& arguments, CliIo& io) {
  CliOptions options;
  options.arguments = arguments;
  std::string message;
  std::optional<int> ended;
  {
    Parser parser(options);
    ended = parser.parse(arguments, io, &message);
  }
  if (!ended) return Job(options, io).run();
  if (message.empty()) return *ended;
  // A wrong word still gets its record when one was asked for.
  if (std::find(arguments.begin(), arguments.end(), "--json") != arguments.end()) {
    nlohmann::json document = record::blank(options, std::chrono::system_clock::now());
    document["error"] = message;
    document["exit_code"] = *ended;
    io.out << record::text(document) << "\n" << std::flush;
  } else {
    io.err << "tandra-cli: " << message << "\n" << kHelpHint << "\n" << std::flush;
  }
  return *ended;
}

}  // namespace tandra::cli
