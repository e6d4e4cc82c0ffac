#include "app/run.h"

#include <cstdlib>
#include <iostream>
#include <optional>

#include "app/load_step.h"
#include "app/mixer_select.h"
#include "apply/reconcile.h"
#include "docio/dump.h"
#include "docio/input_document.h"
#include "docio/save.h"
#include "platform/os/console.h"
#include "platform/os/message.h"
#include "platform/os/text_encoding.h"
#include "snapshot/snapshot.h"

namespace quorvel {
namespace {

struct Options {
  std::optional<std::string> file_name;  // as given, in the system code page
  std::optional<std::string> output_name;
  bool local = false;
  bool url = false;
  bool tree = false;
};

// Only the second character of an option counts. The output option takes
// the next argument as its name unless there is none or it is an option;
// then the default output name (if any) is used.
Options parse_options(const std::vector<std::string>& args,
                      const std::optional<std::string>& default_output_name) {
  Options options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || arg[0] != '-') {
      options.file_name = arg;
      continue;
    }
    const char option = arg.size() > 1 ? arg[1] : '\0';
    switch (option) {
      case 'l': options.local = true; break;
      case 'u': options.url = true; break;
      case 't': options.tree = true; break;
      case 'o':
        if (i + 1 < args.size() && (args[i + 1].empty() || args[i + 1][0] != '-')) {
          options.output_name = to_wide_string(args[++i]);
        } else {
          options.output_name = default_output_name;
        }
        break;
      default: break;
    }
  }
  return options;
}

// What the command line asks for before any mixer is looked for.
enum class InfoRequest { kNone, kHelp, kVersion };

// `-h` and `-?` go by the second-character rule like every other option
// (`-help` is `-h`). An option whose second character is '-' counts only as
// one of the whole words `--help` and `--version`; any other is ignored, as
// it always was. The first request on the command line wins. The argument
// that `-out` takes as its name never begins with '-', so it is never
// mistaken for a request.
InfoRequest find_info_request(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') continue;
    if (arg[1] == 'h' || arg[1] == '?' || arg == "--help") return InfoRequest::kHelp;
    if (arg == "--version") return InfoRequest::kVersion;
  }
  return InfoRequest::kNone;
}

}  // namespace

void print_usage(const std::string& program_name) {
  const std::string shown =
      utf8_to_console(printable(mask_passwords(system_to_utf8(program_name))));
  std::cerr << "\nUsage: " << shown << " <options> [filename]\n"
            << "Command Line Quorvel Utility Version 1.0\n"
            << "Options are:\n\n"
            << "  -url    <url>       Loads audio mixer XML document from specified URL\n"
            << "  -local  <infile>    Loads audio mixer XML document from local file\n"
            << "  -out    [outfile]   Saves audio mixer XML document to specified file.\n"
            << "                      When no filename is specified, sound card name is used. \n"
            << "\n";
}

int run_sequence(const std::vector<std::string>& args, MixerService* mixer,
                 const KeepChange& keep) {
  if (mixer == nullptr || mixer->device_count() == 0) {
    show_message(kNoMixerText, kNoMixerTitle);
    return 1;
  }

  InputDocument input;
  pugi::xml_document snapshot;
  std::optional<std::string> default_output_name;

  // Each of these makes the exit status 1 whatever follows.
  bool failed = false;
  Result built = build_snapshot(snapshot, *mixer, default_output_name);
  if (!built) failed = true;

  if (args.size() <= 1) {
    print_usage(args.empty() ? std::string("quorvel") : args[0]);
    return failed ? 1 : 0;
  }

  const Options options = parse_options(args, default_output_name);

  bool load_attempted = false;
  bool load_succeeded = false;
  if (options.file_name) {
    bool stop_run = false;
    Result loaded =
        run_load_step(input, *options.file_name, options.local, options.url, stop_run);
    if (stop_run) return 1;
    if (!loaded) failed = true;
    load_attempted = true;
    load_succeeded = static_cast<bool>(loaded);
  }

  if (options.tree) dump_tree(input.dom);

  if (load_attempted) {
    const ApplyReport report = reconcile_documents(input.dom, snapshot, *mixer);
    if (report.reported > 0) failed = true;
    // A document that loaded but has nothing this mixer has would otherwise
    // end the run quietly with nothing restored. After a failed load the
    // load has said what went wrong already.
    if (load_succeeded && report.paired == 0) {
      report_error("nothing in " + quote_name(to_wide_string(*options.file_name)) +
                   " matches this mixer; nothing was restored");
      failed = true;
    }
    // Its values are applied: free the input document before the rebuild,
    // so that it and the new snapshot are never in memory together.
    input.dom.reset();
    // The snapshot is built again, so that it shows the mixer after the
    // change (and a mixer that can no longer be read fails the run).
    built = build_snapshot(snapshot, *mixer, default_output_name);
    if (!built) failed = true;
  }

  // The mixer keeps its change before the document that shows it is
  // written, so that a saved document never describes a state the mixer did
  // not keep.
  Result kept = keep ? keep() : Result();
  if (!kept) {
    report_error(kept.message());
    failed = true;
  }

  if (options.output_name && built && !kept) {
    report_error(quote_name(*options.output_name) +
                 " not saved: the mixer did not keep the change it would show");
    std::cerr << kFileNotFound;
  } else if (options.output_name && built) {
    Result saved = save_document(snapshot, *options.output_name);
    if (!saved) {
      report_error(saved.message());
      std::cerr << kFileNotFound;
      failed = true;
    }
  }
  return failed ? 1 : 0;
}

int run_program(const std::vector<std::string>& args) {
  switch (find_info_request(args)) {
    case InfoRequest::kHelp:
      print_usage(args.empty() ? std::string("quorvel") : args[0]);
      return 0;
    case InfoRequest::kVersion:
      std::cout << "quorvel " << QUORVEL_VERSION << "\n";
      return 0;
    case InfoRequest::kNone:
      break;
  }

  const char* variable = std::getenv(kMixerVariable);
  std::optional<std::string> value;
  if (variable != nullptr) value = variable;

  SelectedMixer selected;
  Result chosen = select_mixer(value, selected);
  if (!chosen) {
    report_error(chosen.message());
    return 1;
  }
  // A simulated device's change goes into its file, and its lock is given
  // up, as soon as the run no longer needs the device; runs that end early
  // (they changed nothing) do it on their way out.
  bool kept = false;
  auto keep = [&]() -> Result {
    if (kept) return Result();
    kept = true;
    Result saved = save_sim_device(selected);
    selected.sim_lock.release();
    if (saved) return saved;
    return Result::failure("cannot keep the simulated device's state in " +
                           selected.sim_path.string() + ": " + saved.message());
  };
  int status = run_sequence(args, selected.service.get(), keep);
  if (!kept) {
    Result saved = keep();
    if (!saved) {
      report_error(saved.message());
      status = 1;
    }
  }
  return status;
}

}  // namespace quorvel
