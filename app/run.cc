#include "app/run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "app/console_reporter.h"
#include "app/follow.h"
#include "app/load_step.h"
#include "app/options.h"
#include "app/mixer_select.h"
#include "apply/preview.h"
#include "apply/reconcile.h"
#include "docio/dump.h"
#include "docio/input_document.h"
#include "docio/listing.h"
#include "docio/save.h"
#include "platform/os/console.h"
#include "platform/os/message.h"
#include "platform/os/text_encoding.h"
#include "snapshot/snapshot.h"

namespace quorvel {
namespace {

void write_usage(std::ostream& stream, const std::string& program_name) {
  const std::string shown =
      utf8_to_console(printable(mask_passwords(system_to_utf8(program_name))));
  stream << "\nUsage: " << shown << " <options> [filename]\n"
         << "Command Line Quorvel Utility Version 1.0\n"
         << "Options are:\n\n"
         << "  -url    <url>       Loads audio mixer XML document from specified URL\n"
         << "  -local  <infile>    Loads audio mixer XML document from local file\n"
         << "  -out    [outfile]   Saves audio mixer XML document to specified file.\n"
         << "                      When no filename is specified, sound card name is used. \n"
         << "\n";
}

// What a request for help adds to the usage text.
constexpr const char* kHelpMore =
    "More options:\n\n"
    "  -t      [filename]  Prints the loaded document's attribute values, one line per node\n"
    "  -n, -d  [filename]  Shows what a restore of the document would change, and changes nothing\n"
    "  -h                  Prints this text\n"
    "  --follow profile    Restores the profile on the sound server, then keeps to it: a line\n"
    "                      or application of it that appears gets its values (Ctrl-C ends it)\n"
    "  --show  [filename]  Lists the document, or without one the mixer, in percent and dB;\n"
    "                      changes nothing\n"
    "  --utf8              Saves in UTF-8 (text for diff, grep and git) rather than UTF-16\n"
    "\n"
    "Only the second letter of an option counts (-o is -out); another letter is passed over,\n"
    "with a note. Long forms, as whole words: --out, --local, --url, --tree, --dry-run (also\n"
    "--diff), --help, --version, --follow, --show, --utf8; any other word beginning with --\n"
    "is refused. After a lone --, every argument is a file name.\n"
    "\n"
    "Exit status: 0 success, 1 failure. With -n: 0 the mixer matches the document,\n"
    "1 a restore would change it, 2 something failed.\n"
    "QUORVEL_MIXER chooses the mixer. See quorvel(1) for everything.\n";

}  // namespace

void print_usage(const std::string& program_name) { write_usage(std::cerr, program_name); }

void print_help(const std::string& program_name) {
  write_usage(std::cout, program_name);
  std::cout << kHelpMore;
}

namespace {

// The document's name as messages show it.
std::string shown_name(const std::string& file_name) {
  return quote_name(system_to_utf8(file_name));
}

// The name to save under: the one given (in the system code page), or the
// device's for -out without one; none without -out.
std::optional<std::string> chosen_output_name(const Options& options,
                                              const std::optional<std::string>& default_name) {
  if (options.output_default) return default_name;
  if (options.output_name) return system_to_utf8(*options.output_name);
  return std::nullopt;
}

// The encoding a save is made in: UTF-16 unless --utf8 asks for UTF-8.
SavedEncoding encoding_of(const Options& options) {
  return options.utf8 ? SavedEncoding::kUtf8 : SavedEncoding::kUtf16;
}

// Saves the snapshot: its saved form, or the model of it a preview planned
// with. A failure is reported with its reason, then "File not found
// error.". Whether it was saved.
bool save_step(const std::string* saved_form, const Document* snapshot,
               const std::string& output_name, SavedEncoding encoding) {
  const Result saved = saved_form != nullptr
                           ? save_saved_document(*saved_form, output_name, console())
                           : save_document(*snapshot, output_name, console(), encoding);
  if (saved) return true;
  report_error(saved.message());
  std::cerr << kFileNotFound;
  return false;
}

// Whether what the run printed on standard output reached it; a failure (a
// full disk, a closed pipe) is reported.
bool output_written() {
  errno = 0;
  // The C stream under it holds the failure of any earlier write too (its
  // reason is given where the flush still finds one).
  const bool flushed = static_cast<bool>(std::cout.flush());
  if (flushed && std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  const int error = errno;
  std::cout.clear();
  std::clearerr(stdout);
  report_error(std::string("cannot write to standard output") +
               (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  return false;
}

// Whether the load of `file_name` may wait for long: a URL (fetched), or a
// name that is there but not a regular file (a FIFO, a device). A regular
// file, or a name that is not there at all, is read (or fails) at once.
bool load_may_wait(const std::string& file_name, bool local_flag, bool url_flag) {
  if (url_flag && !local_flag) return true;
  if (file_name.rfind("http:", 0) == 0 || file_name.find("://") != std::string::npos) return true;
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(path_from_utf8(system_to_utf8(file_name)), error);
  return !error && status.type() != std::filesystem::file_type::regular &&
         status.type() != std::filesystem::file_type::not_found;
}

// The load step, with the mixer let go of while it may wait (`wait`). A
// mixer that cannot be had again stops the run (kLoadStopsRun, as a source
// that does not open does); one that changed meanwhile sets
// `mixer_changed`.
Result load_step(InputDocument& input, const Options& options, PreparedLoad* prepared,
                 const MixerWait& wait, bool& mixer_changed) {
  mixer_changed = false;
  const bool waits = load_may_wait(*options.file_name, options.local, options.url);
  if (waits && wait.pause) wait.pause();
  Result loaded = run_load_step(input, *options.file_name, options.local, options.url, prepared);
  if (waits && wait.resume) {
    const Expected<bool> resumed = wait.resume();
    if (!resumed) {
      report_error(resumed.message());
      return Result::failure(resumed.message(), kLoadStopsRun);
    }
    mixer_changed = *resumed;
  }
  return loaded;
}

// A preview: the restore planned and printed, nothing written to the mixer.
// 0 when a restore would change nothing, 1 when it would change something,
// 2 when anything failed.
int run_preview(const Options& options, InputDocument& input, Document& snapshot,
                Mixer& mixer, std::optional<std::string>& default_output_name,
                bool failed, PreparedLoad* prepared, const MixerWait& wait) {
  if (!options.file_name) {
    report_error("no document to preview; name one (quorvel -n FILE)");
    return 2;
  }
  bool mixer_changed = false;
  const Result loaded = load_step(input, options, prepared, wait, mixer_changed);
  if (loaded.kind() == kLoadStopsRun) return 2;
  if (mixer_changed && !build_snapshot(snapshot, mixer, default_output_name, console())) failed = true;
  if (!loaded) failed = true;
  if (options.tree) {
    dump_tree(input.document.root(), std::cout);
    if (!output_written()) failed = true;
  }

  bool changes = false;
  if (loaded) {
    RestorePlan plan = plan_restore(input.document, snapshot, mixer, console());
    name_writes_by_mixer(plan, mixer);
    const PreviewCounts counts = print_preview(plan, std::cout, console());
    if (!output_written()) failed = true;
    if (counts.problems > 0 || counts.refusals > 0) failed = true;
    changes = counts.changes > 0;
    if (!plan.matched) {
      report_error("nothing in " + shown_name(*options.file_name) +
                   " matches this mixer; a restore would restore nothing");
      failed = true;
    }
  }
  // Nothing was written: the snapshot planned with shows the mixer as it
  // is, and is saved.
  const std::optional<std::string> output_name = chosen_output_name(options, default_output_name);
  if (output_name) {
    input.document.reset();
    if (!save_step(nullptr, &snapshot, *output_name, encoding_of(options))) failed = true;
  }
  if (failed) return 2;
  return changes ? 1 : 0;
}

// --show: the document named, or without one the mixer, listed
// (list_document); nothing is applied or saved. 0 when it was listed, 1
// when it could not be (the reasons said).
int run_show(const Options& options, const std::optional<std::string>& mixer_value) {
  // A listing only ever reads: what would preview, print, save or follow is
  // refused rather than left undone without a word.
  const std::string_view refused = options.follow && !options.preview && !options.tree
                                       ? "--follow"
                                       : output_option(options);
  if (!refused.empty()) {
    report_error("--show only lists, and does not go with " + std::string(refused) +
                 "; nothing was done");
    return options.preview ? 2 : 1;
  }
  if (options.utf8) report_note("--utf8 only chooses how a document is saved; --show saves nothing");
  Document mixer_document;
  InputDocument input;
  Document* listed = &input.document;
  bool failed = false;
  if (options.file_name) {
    // A document is listed without the mixer: it may come from another
    // machine, or this one may have none.
    if (!run_load_step(input, *options.file_name, options.local, options.url)) return 1;
  } else {
    MixerOpening chosen = open_mixer(mixer_value, console());
    if (!chosen) {
      report_error(chosen.message());
      return 1;
    }
    const std::unique_ptr<OpenedMixer> mixer = std::move(chosen).value();
    if (!mixer || mixer->mixer().device_count() == 0) {
      report_error(std::string("there is no mixer to list: ") + kNoMixerText);
      return 1;
    }
    std::optional<std::string> default_name;
    // A mixer read in part is listed as far as it was read, and fails the run.
    if (!build_snapshot(mixer_document, mixer->mixer(), default_name, console())) failed = true;
    if (Result kept = mixer->keep_changes(); !kept) {
      report_error(kept.message());
      failed = true;
    }
    listed = &mixer_document;
  }
  list_document(*listed, std::cout);
  if (!output_written()) failed = true;
  return failed ? 1 : 0;
}

// A note for each single-dash argument whose letter is no option: the run
// passes over it, as it always has, but a typo such as -save (read as -s,
// which is nothing) no longer goes by without a word.
void note_ignored(const Options& options) {
  for (const std::string& arg : options.ignored) {
    const std::string shown = quote_name(system_to_utf8(arg));
    if (arg.size() < 2) {
      report_note(shown + " is no option; it is passed over");
      continue;
    }
    report_note(shown + " is no option (only the letter after the dash counts, and -" +
                std::string(1, arg[1]) + " is none); it is passed over");
  }
}

}  // namespace

int run_sequence(const std::vector<std::string>& args, Mixer* mixer,
                 const KeepChange& keep, PreparedLoad* prepared, const MixerWait& wait) {
  const Options options = parse_options(args);
  const int failure = options.preview ? 2 : 1;
  if (mixer == nullptr || mixer->device_count() == 0) {
    // Where no box can be shown, the same on standard error, rather than
    // lost: "TITLE: TEXT".
    if (!show_message(kNoMixerText, kNoMixerTitle)) {
      console().text(std::string(kNoMixerTitle) + ": " + kNoMixerText + "\n");
    }
    return failure;
  }

  InputDocument input;
  // The first snapshot is built in the form the run needs of it: a run that
  // only saves needs its saved form, built straight in that form; a preview
  // and a restore its document, to pair the input with (a restore saves the
  // snapshot built after its writes, a preview one built after planning);
  // any other run (the usage text) only the verdict of reading the mixer.
  Document snapshot;
  std::optional<std::string> default_output_name;
  std::optional<std::string> saved_form;
  const bool saves = options.output_default || options.output_name.has_value();
  if (saves && !options.preview && !options.file_name) saved_form.emplace();

  // Each of these makes the exit status 1 whatever follows.
  bool failed = false;
  Result built;
  if (saved_form) {
    built = build_saved_snapshot(*saved_form, *mixer, default_output_name, console(),
                                 encoding_of(options));
  } else if (options.preview || options.file_name) {
    built = build_snapshot(snapshot, *mixer, default_output_name, console());
  } else {
    built = check_snapshot(*mixer, default_output_name, console());
  }
  if (!built) failed = true;

  if (args.size() <= 1) {
    print_usage(args.empty() ? std::string("quorvel") : args[0]);
    return failed ? 1 : 0;
  }
  if (options.preview) {
    return run_preview(options, input, snapshot, *mixer, default_output_name, failed, prepared,
                       wait);
  }

  bool load_attempted = false;
  bool load_succeeded = false;
  if (options.file_name) {
    bool mixer_changed = false;
    Result loaded = load_step(input, options, prepared, wait, mixer_changed);
    if (loaded.kind() == kLoadStopsRun) return 1;
    // Changed while the run waited for its document: the snapshot pairing
    // reads is built again.
    if (mixer_changed && !build_snapshot(snapshot, *mixer, default_output_name, console())) failed = true;
    if (!loaded) failed = true;
    load_attempted = true;
    load_succeeded = static_cast<bool>(loaded);
  }

  if (options.tree) {
    dump_tree(input.document.root(), std::cout);
    if (!output_written()) failed = true;
  }

  if (load_attempted) {
    const ApplyReport report = reconcile_documents(input.document, snapshot, *mixer, console());
    if (report.reported > 0) failed = true;
    // A document that loaded but has nothing this mixer has would otherwise
    // end the run quietly with nothing restored. After a failed load the
    // load has said what went wrong already.
    if (load_succeeded && !report.matched && !report.gone) {
      report_error("nothing in " + shown_name(*options.file_name) +
                   " matches this mixer; nothing was restored");
      failed = true;
    }
    // Its values are applied: free the input document and the first
    // snapshot before the rebuild, so that neither is in memory with the
    // new one.
    input.document.reset();
    snapshot.reset();
    // The snapshot is built again, so that it shows the mixer after the
    // change (and a mixer that can no longer be read fails the run). Only
    // a run that saves keeps it, in the saved form; else the mixer is read
    // for its verdict alone. A mixer that went away, which the restore has
    // said, cannot be read again: nothing is saved.
    if (report.gone) {
      built = Result::failure("the mixer went away");
      if (const std::optional<std::string> output_name =
              chosen_output_name(options, default_output_name)) {
        report_error(quote_name(*output_name) + " not saved: the mixer went away");
        std::cerr << kFileNotFound;
      }
    } else if (saves) {
      if (!saved_form) saved_form.emplace();
      built = build_saved_snapshot(*saved_form, *mixer, default_output_name, console(),
                                 encoding_of(options));
    } else {
      built = check_snapshot(*mixer, default_output_name, console());
    }
    if (!built) failed = true;
  }

  // The mixer keeps its change before the document that shows it is
  // written, so that a saved document never describes a state the mixer did
  // not keep.
  const Result kept = keep ? keep() : Result();
  if (!kept) {
    report_error(kept.message());
    failed = true;
  }

  const std::optional<std::string> output_name = chosen_output_name(options, default_output_name);
  if (output_name && built && !kept) {
    report_error(quote_name(*output_name) +
                 " not saved: the mixer did not keep the change it would show");
    std::cerr << kFileNotFound;
  } else if (output_name && built &&
             !save_step(&saved_form.value(), nullptr, *output_name, encoding_of(options))) {
    failed = true;
  }
  return failed ? 1 : 0;
}

int run_program(const std::vector<std::string>& args) {
  const Options options = parse_options(args);
  const int failure = options.preview ? 2 : 1;
  // A mistyped long option must never turn into a restore: refused before
  // anything runs.
  if (options.unknown) {
    report_error("unknown option " + quote_name(system_to_utf8(*options.unknown)) +
                 " (quorvel --help lists the options); nothing was done");
    return failure;
  }
  note_ignored(options);
  if (options.help) {
    print_help(args.empty() ? std::string("quorvel") : args[0]);
    return 0;
  }
  if (options.version) {
    std::cout << "quorvel " << QUORVEL_VERSION << "\n";
    return 0;
  }

  // Set but empty counts as unset, as for the shell's own variables: the
  // machine's mixer.
  const char* variable = std::getenv(kMixerVariable);
  std::optional<std::string> value;
  if (variable != nullptr && *variable != '\0') value = variable;

  // The document named on the command line does not depend on the mixer:
  // its load begins now, beside opening the mixer and building the first
  // snapshot, and the load step takes it. The file is therefore read when
  // the run starts rather than a moment later, when the load step comes
  // (one written in between, by size or time of its last write, is read
  // again there); a run that ends before its load step waits for the load
  // (on the way out) and says nothing of it.
  if (options.show) return run_show(options, value);
  if (options.follow) return follow_profile(options, value);

  PreparedLoad prepared = begin_load_step(options.file_name, options.local, options.url);

  MixerOpening chosen = open_mixer(value, console());
  if (!chosen) {
    report_error(chosen.message());
    return failure;
  }
  std::unique_ptr<OpenedMixer> mixer = std::move(chosen).value();
  // A simulated device's change goes into its file, and its lock is given
  // up, as soon as the run no longer needs the device; runs that end early
  // (they changed nothing) do it on their way out.
  bool kept = false;
  auto keep = [&]() -> Result {
    if (kept || !mixer) return Result();
    kept = true;
    return mixer->keep_changes();
  };
  MixerWait wait;
  if (mixer) {
    wait.pause = [&] { mixer->pause(); };
    wait.resume = [&] { return mixer->resume(); };
  }
  int status = run_sequence(args, mixer ? &mixer->mixer() : nullptr, keep,
                            prepared.begun() ? &prepared : nullptr, wait);
  if (Result saved = keep(); !saved) {
    report_error(saved.message());
    status = failure;
  }
  return status;
}

}  // namespace quorvel
