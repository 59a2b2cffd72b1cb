#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Job.h"
#include "common/Version.h"

namespace tandra::cli {

namespace {

// The command line: one subcommand per job, and the options they share.
class Parser {
 public:
  explicit Parser(CliOptions& o) : o_(o) {
    app_.name("tandra-cli");
    app_.description(
        "Programs, verifies, blank-checks, compares and reads one to five EPROMs of one type on "
        "the gang programmer, and loads, converts and checksums image files.");
    app_.set_version_flag("--version", kVersion);
    app_.require_subcommand(1, 1);
    app_.fallthrough();  // the shared options may follow the subcommand
    shared();

    app_.add_subcommand("list", "the programmers found: index, serial, description, firmware");
    app_.add_subcommand("devices", "the device types: type, size, Vpp, default pulse width");
    withFile(withDevice(app_.add_subcommand("program", "program sockets 1..n from the file"), true))
        ->add_flag("--no-verify", o_.noVerify, "do not verify after programming");
    findSub("program")->add_flag("--force", o_.force,
                                 "program a file that loaded with dropped bytes or bad checksums");
    withFile(withDevice(app_.add_subcommand("verify", "compare sockets 1..n with the file"), true));
    withDevice(app_.add_subcommand("blank", "check that sockets 1..n are erased"), true);
    withFile(withDevice(
        app_.add_subcommand("compare", "program compare: can each socket still take the file?"),
        true));
    withFile(withDevice(app_.add_subcommand("read", "read socket 1 into the file"), false));
    withFile(withDevice(
        app_.add_subcommand("checksum", "the 16-bit checksum the window shows for the file"),
        false));
    CLI::App* convert = withDevice(
        app_.add_subcommand("convert", "load one format and save another, for one device type"),
        false);
    convert->add_option("input", o_.input, "the file to read")->required();
    convert->add_option("output", o_.output, "the file to write")->required();
  }

  // An exit code when the program ends here (help, version, a wrong word).
  std::optional<int> parse(std::vector<std::string> arguments, CliIo& io) {
    std::reverse(arguments.begin(), arguments.end());  // the order CLI11 takes them in
    try {
      app_.parse(arguments);
    } catch (const CLI::ParseError& error) {
      const int code = app_.exit(error, io.out, io.err);
      return code == 0 ? exitcode::kPassed : exitcode::kUsage;
    }
    o_.command = app_.get_subcommands().front()->get_name();
    return std::nullopt;
  }

 private:
  void shared() {
    app_.add_option("--format", o_.format,
                    "format of the file read (or written by read): bin, intel, srec, ascii or "
                    "auto (by content, then by extension)")
        ->capture_default_str();
    app_.add_option("--out-format", o_.outFormat,
                    "format of the file convert writes: bin, intel, srec, ascii or auto (by "
                    "extension)")
        ->capture_default_str();
    app_.add_option("--pulse", o_.pulse, "programming pulse width, 1 to 255")
        ->check(CLI::Range(1, 255));
    app_.add_option("--vpp", o_.vpp, "programming voltage: 25, 21 or 12.5")
        ->check(CLI::IsMember({"25", "21", "12.5"}));
    app_.add_flag("--virtual", o_.virtualProgrammer,
                  "use the virtual programmer, with five blank chips");
    app_.add_option("--virtual-chips", o_.virtualChips,
                    "preload the virtual programmer's sockets 1, 2, ... from these files")
        ->allow_extra_args(false);
    app_.add_option("--driver", o_.driver, "USB driver: d2xx, libftdi or virtual")
        ->check(CLI::IsMember({"d2xx", "libftdi", "virtual"}, CLI::ignore_case));
    app_.add_option("--serial", o_.serial, "the programmer to use when several are attached");
    app_.add_option("--update-firmware", o_.updateFirmware,
                    "update firmware older than 1.20 from this file");
    app_.add_flag("--json", o_.json, "one JSON document on standard output");
    app_.add_flag("--quiet", o_.quiet, "no progress line and no notes; results only");
  }

  CLI::App* withDevice(CLI::App* sub, bool sockets) {
    sub->add_option("-d,--device", o_.device, "device type as the list shows it, e.g. 27C256")
        ->required();
    if (sockets) {
      sub->add_option("-n,--sockets", o_.sockets, "sockets in use, 1 to 5")
          ->check(CLI::Range(1, 5))
          ->capture_default_str();
    }
    return sub;
  }

  CLI::App* withFile(CLI::App* sub) {
    sub->add_option("file", o_.input, "the image file")->required();
    return sub;
  }

  CLI::App* findSub(const std::string& name) { return app_.get_subcommand(name); }

  CliOptions& o_;
  CLI::App app_;
};

}  // namespace

int runCli(const std::vector<std::string>& arguments, CliIo& io) {
  CliOptions options;
  Parser parser(options);
  if (const std::optional<int> ended = parser.parse(arguments, io)) return *ended;
  return Job(options, io).run();
}

}  // namespace tandra::cli
