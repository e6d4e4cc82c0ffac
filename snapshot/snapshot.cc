#include "snapshot/snapshot.h"

#include <new>
#include <string>
#include <vector>

#include "platform/document/document_format.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "platform/os/console.h"
#include "platform/os/file_name.h"
#include "snapshot/capture.h"

namespace quorvel {
namespace {

std::string mixer_error(MixerResult result) { return "mixer error " + std::to_string(result); }

// Reports a problem on a line of its own and returns it as a failure.
Result reported(const std::string& message, Reporter& reporter) {
  reporter.error(message);
  return Result::failure(message);
}

// The problems of a build, each already reported: the failure of the whole
// is the first of them, with the count of the others.
class Problems {
 public:
  void add(const Result& result) {
    if (result) return;
    if (count_++ == 0) first_ = result.message();
  }
  Result result() const {
    if (count_ == 0) return Result();
    if (count_ == 1) return Result::failure(first_);
    return Result::failure(first_ + " (and " + std::to_string(count_ - 1) + " more)");
  }

 private:
  std::size_t count_ = 0;
  std::string first_;
};

}  // namespace

Result capture_line_controls(DocumentSink& sink, Mixer& mixer, const ModelLayout& layout,
                             const ModelLine& line, Reporter& reporter, bool* gone) {
  // A line without channels shows no control, whatever the mixer lists: a
  // control that reports no channels has nothing a document could restore.
  if (line.channels == 0) return Result();
  Problems problems;
  for (std::size_t index : line.controls) {
    problems.add(capture_control_value(sink, mixer, line, layout.controls[index], reporter, gone));
    if (sink.failed()) return Result::failure("cannot add a control to the document");
    if (gone != nullptr && *gone) return Result::failure("the mixer went away");
  }
  return problems.result();
}

namespace {

// Room, in bytes of the saved form, for the document of `layout`: a bound
// for every name (each character escaped as a reference of six), the markup
// and attributes of every line and control, and every value and item.
std::size_t saved_size_bound(const ModelLayout& layout) {
  constexpr std::size_t kLine = 256;     // markup and attributes
  constexpr std::size_t kControl = 256;  // markup and attributes
  constexpr std::size_t kValue = 64;     // a value with its channel, position aside
  constexpr std::size_t kItem = 64;      // an item, its name aside
  std::size_t characters = 1024 + 6 * layout.name.size();
  for (const ModelLine& line : layout.lines) {
    std::size_t positions = 0;
    for (const std::string& position : line.positions) positions += position.size();
    characters += kLine + 6 * (line.name.size() + line.device_name.size() + line.product_id.size());
    for (std::size_t index : line.controls) {
      const ModelControl& control = layout.controls[index];
      characters += kControl + 6 * (control.name.size() + positions) +
                    std::size_t{line.channels} * kValue;
      for (const ModelItem& item : control.items) characters += kItem + 6 * item.name.size();
    }
  }
  return 2 * characters;
}

// A sink that keeps nothing of what is written to it.
class DiscardingSink final : public DocumentSink {
 public:
  void prolog() override {}
  void start(const char*) override {}
  void attribute(const char*, std::int32_t) override {}
  void attribute(const char*, std::string_view) override {}
  void text(std::string_view) override {}
  void cdata(std::string_view) override {}
  void end() override {}
};

// An application's element: its name, then its volume, one value per
// channel with the channel's speaker position.
void write_application(DocumentSink& sink, const MixerApplication& application) {
  start_application(sink, {.name = application.name,
                           .key = application.key,
                           .channels = static_cast<std::uint32_t>(application.volume.size()),
                           .mute = application.mute,
                           .server_name = application.device});
  const bool positioned = application.positions.size() == application.volume.size();
  for (std::size_t k = 0; k < application.volume.size(); ++k) {
    write_value(sink, static_cast<std::uint32_t>(k + 1), application.volume[k],
                positioned ? std::string_view(application.positions[k]) : std::string_view());
  }
  sink.end();
}

// Describes mixer device 0 into `sink`, from the document's start to its
// end. With `room` (the string a saved form is written into), room for the
// whole document is reserved in it first, so that it is never copied as it
// grows: reserved room that is not written costs no memory.
Result describe_mixer(DocumentSink& sink, Mixer& mixer,
                      std::optional<std::string>& default_output_name, Reporter& reporter,
                      std::string* room = nullptr) {
  const ModelLayout* described = nullptr;
  const MixerResult result = mixer.describe(0, described);
  if (result != kMixerOk) {
    // The document of no mixer, which pairs no line.
    write_bare_document(sink);
    return reported("cannot open mixer device 0: " + mixer_error(result), reporter);
  }
  const ModelLayout& layout = *described;

  if (room != nullptr) {
    // Room is only a help: without it the string grows as it fills.
    try {
      room->reserve(room->size() + saved_size_bound(layout));
    } catch (const std::bad_alloc&) {
    }
  }

  const std::string& product = layout.name;
  start_mixer_document(sink, product, static_cast<std::uint32_t>(layout.destinations.size()));
  default_output_name = default_file_name(product);

  // A mixer that goes away while it is read (a sound server stopped or
  // killed) is said once, and the document, which cannot be complete, fails.
  bool gone = false;
  const auto went_away = [&] {
    return reported("the mixer " + quote_name(product) +
                    " went away while it was read; its document is not complete",
                    reporter);
  };
  Problems problems;
  Progress progress(reporter, "reading the mixer", layout.controls.size());
  for (std::size_t index : layout.destinations) {
    const ModelLine& destination = layout.lines[index];
    start_destination(sink, {.name = destination.name,
                             .line_id = destination.id,
                             .channels = destination.channels,
                             .connections = static_cast<std::uint32_t>(destination.sources.size()),
                             .component_type = destination.component_type,
                             .server_name = destination.device_name,
                             .product_id = destination.product_id});
    if (sink.failed()) return Result::failure("cannot add a destination to the document");
    problems.add(capture_line_controls(sink, mixer, layout, destination, reporter, &gone));
    if (gone) return went_away();
    progress.advance(destination.controls.size());

    for (std::size_t source_index : destination.sources) {
      const ModelLine& source = layout.lines[source_index];
      start_source(sink, {.name = source.name,
                          .src_id = source.source,
                          .channels = source.channels,
                          .line_type = source.component_type,
                          .server_name = source.device_name,
                          .product_id = source.product_id});
      if (sink.failed()) return Result::failure("cannot add a source to the document");
      problems.add(capture_line_controls(sink, mixer, layout, source, reporter, &gone));
      if (gone) return went_away();
      progress.advance(source.controls.size());
      sink.end();
    }
    sink.end();
  }
  // A sound server's applications come after its lines; a mixer of another
  // kind has none, and its document no application element.
  std::vector<MixerApplication> applications;
  const MixerResult read = mixer.read_applications(0, applications);
  if (read == kMixerGone) return went_away();
  if (read != kMixerOk && read != kMixerUnsupported) {
    problems.add(
        reported("cannot read the applications of the mixer: " + mixer_error(read), reporter));
  }
  for (const MixerApplication& application : applications) {
    write_application(sink, application);
    if (sink.failed()) return Result::failure("cannot add an application to the document");
  }
  end_mixer_document(sink);
  return problems.result();
}

}  // namespace

Result build_snapshot(Document& document, Mixer& mixer,
                      std::optional<std::string>& default_output_name, Reporter& reporter) {
  DocumentBuilder sink(document);
  const Result built = describe_mixer(sink, mixer, default_output_name, reporter);
  if (sink.failed()) {
    // No memory to complete it: the document of no mixer, if even that
    // can be had.
    DocumentBuilder bare(document);
    write_bare_document(bare);
    if (bare.failed()) document.reset();
  }
  return built;
}

Result build_saved_snapshot(std::string& bytes, Mixer& mixer,
                            std::optional<std::string>& default_output_name, Reporter& reporter,
                            SavedEncoding encoding) {
  bytes.clear();
  SavedDocumentWriter sink(bytes, encoding);
  return describe_mixer(sink, mixer, default_output_name, reporter, &bytes);
}

Result check_snapshot(Mixer& mixer, std::optional<std::string>& default_output_name,
                      Reporter& reporter) {
  DiscardingSink sink;
  return describe_mixer(sink, mixer, default_output_name, reporter);
}

}  // namespace quorvel
